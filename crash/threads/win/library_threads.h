// The process's thread roles: the main thread, the handling thread and the
// library's own threads (never paused, listed apart in process traces), and
// whether the process is blocked (loader lock held) or shutting down.
#pragma once

#include <windows.h>

namespace kestrix {

DWORD MainThreadId();
void SetMainThreadId(DWORD id);
DWORD HandlingThreadId();
void SetHandlingThreadId(DWORD id);

// The library's own threads (handling thread, report completion, watchdog).
bool IsLibraryThread(DWORD id);
void RegisterLibraryThread(DWORD id, const char* name);
void UnregisterLibraryThread(DWORD id);

// The loader lock (or, when it is free, the process-environment lock) is
// held: by this thread, or by another one for longer than waitMs (tested
// every 10 ms). Threads must then be neither started nor waited for.
bool IsProcessStalled(DWORD waitMs);
// This thread holds the loader lock: no other thread can end until it is
// let go.
bool HoldsLoaderLock();
// Stalled, or the process is shutting down.
bool IsProcessBlocked(DWORD waitMs);
void SetShuttingDown(bool value);
bool ShuttingDown();

}  // namespace kestrix
