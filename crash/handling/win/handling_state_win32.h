// The handling layer's state: one record, made at the first use (start-up)
// and never destroyed, so that reports at exit and faults in static
// destructors still find it. Only the handling layer's files include this.
#pragma once

#include <windows.h>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "crash/base/win/scoped_handle.h"
#include "crash/handling/handling_request.h"
#include "crash/handling/win/handler_lists_win32.h"
#include "crash/handling/win/handling_entry_win32.h"
#include "crash/handling/win/presentation_win32.h"
#include "crash/handling/win/screenshot_file_win32.h"
#include "crash/report/exception_history.h"

namespace kestrix {

struct THandlerEntry {
  TExceptionHandler proc = nullptr;
  TExceptionMethod method = nullptr;
  void* self = nullptr;
  uint8_t threadMode = tmAnyThread;
  bool needsComplete = false;
};

struct THandlingState {
  // Handling thread and its pipe: written by StartHandlingThread and
  // StopHandlingThread (start-up and shutdown); the thread's id is the
  // threads layer's (HandlingThreadId).
  TScopedHandle handlingThread;
  TScopedHandle pipeRead, pipeWrite;
  // One request at a time into the pipe: a write larger than the room left
  // in the pipe goes in pieces, and pieces of two threads must not mix.
  SRWLOCK pipeWriteLock = SRWLOCK_INIT;
  // The exception ProcessException handles, for a fault of the library's
  // own threads meanwhile; written by the handling thread.
  std::atomic<TIKXException*> current{nullptr};

  // Modes and hooks, set once at start-up by the composition root.
  bool consoleMode = false;
  bool cgiMode = false;
  TFreezeWatchControl freezeWatch;
  TScreenshotHooks screenshotHooks;
  TSendReportHook sendReport = nullptr;
  TExceptionDialog exceptionDialog = nullptr;
  TReportHtmlPage reportHtmlPage = nullptr;
  TAssistantRunner assistantRunner = nullptr;

  // Handler lists: written by the (un)registration functions, read by the
  // firing; guarded by HandlerLock().
  std::vector<THandlerEntry> handlers[3];
  // Set by the main thread while it runs handlers for the library.
  std::atomic<bool> mainRunningHandlers{false};
  // The thread whose exception's presentation was left to the program
  // (ShowException writes it, TakePresentationLeft takes it).
  std::atomic<DWORD> presentationLeftTo{0};

  // Times of the latest exceptions: written by ProcessException and at
  // start-up from a restart block, read by the automatic actions.
  std::mutex ringMutex;
  TExceptionTimeRing ring{};

  // Pausing: the two events (set = go on), created at the first pausing;
  // the paused threads are written by the pausing, read by PauseCheck.
  std::mutex pauseMutex;
  HANDLE mainGoEvent = nullptr, othersGoEvent = nullptr;
  std::vector<DWORD> pausedThreads;  // guarded by pauseMutex
  std::atomic<bool> paused{false};

  // Emergency reserve: taken after each handling, released at its start.
  void* reserve[8] = {};

  // The library's message window of the main thread, and the watchdog's
  // probe message it answers (set by the watchdog).
  HWND window = nullptr;
  std::atomic<UINT> probeMessage{0};
  std::atomic<LRESULT (*)(WPARAM, LPARAM)> probeHandler{nullptr};

  // The folder the program started in (RememberStartFolder, at start-up).
  std::string startFolder;
};

THandlingState& HandlingState();

// The library's message to its window: wParam 1 wakes a paused main
// thread, 0 runs handlers there (lParam: what to run).
inline constexpr UINT kLibraryMessage = WM_APP + 0x4B58;
inline constexpr LRESULT kLibraryAnswer = 777;

// Handlers of the main thread's modes, run in the main thread by the
// library's window (message 0) for the thread that fires them.
struct TMainThreadRun {
  uint8_t eventKind;
  uint8_t action;
  bool* handled;
  TIKXException* exception;
  bool preferredOnly;
};
void RunMainThreadHandlers(const TMainThreadRun& run);

// The automatic save due before the program goes on, and with
// `waitForSend` the end of a background send (before ending).
void FinishAutomaticActions(TIKXException* exception, bool waitForSend);
// The handling of one request, in the handling thread (or in the faulting
// thread when the process is blocked).
void ProcessException(const TExceptionRequest& request);
// Hands a request to the handling thread; false when it could not.
bool SendRequest(const TExceptionRequest& request);
// Waits for the request's event; the main thread keeps its messages going.
void WaitForHandling(HANDLE event);

}  // namespace kestrix
