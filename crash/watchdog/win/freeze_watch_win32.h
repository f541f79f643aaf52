// The freeze watchdog: a thread of highest priority posts a probe to the
// library's message window in the main thread every FreezeTimeout / 10
// milliseconds; ten probes in a row without answer are reported through
// HandleException as a freeze (type 1, source 1).
#pragma once

#include <windows.h>

#include <cstdint>

namespace kestrix {

// Starts the watchdog (in the main thread, which owns the message window);
// false when no window or thread could be had. Does nothing when running.
// The timeout is the main settings' FreezeTimeout unless one is given.
bool StartFreezeWatch(uint32_t freezeTimeout = 0);
void StopFreezeWatch();
// Around every exception handling (nesting counted); ignored when the
// watchdog is not running or when called by the watchdog itself.
void PauseFreezeWatch(bool pause);
void ResetFreezeCounter();
// Asks the main thread, through the probe, to tell `dialog` (a dialog that
// shows a freeze) when it answers again: the answer is a null message with
// both parameters 777 posted to that window. The probe waits in the main
// thread's queue while it is frozen. False when the watchdog is not running.
bool WatchFreezeDialog(HWND dialog);
bool FreezeWatchRunning();
DWORD FreezeWatchThreadId();

}  // namespace kestrix
