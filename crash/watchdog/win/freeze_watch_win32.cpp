#include "crash/watchdog/win/freeze_watch_win32.h"

#include <atomic>
#include <mutex>

#include "crash/handling/win/handling_entry_win32.h"
#include "crash/handling/win/library_window_win32.h"
#include "crash/settings/win/settings_object.h"
#include "crash/threads/win/library_threads.h"
#include "crash/threads/win/thread_table_win32.h"
#include "crash/watchdog/freeze_rules.h"

namespace kestrix {
namespace {

using TPeekMessage = BOOL(WINAPI*)(LPMSG, HWND, UINT, UINT, UINT);

std::mutex& StateMutex() {
  static auto* m = new std::mutex;
  return *m;
}
HANDLE g_thread = nullptr;
std::atomic<DWORD> g_threadId{0};
HANDLE g_stop = nullptr;     // set: the watchdog ends
HANDLE g_resumed = nullptr;  // reset while paused
std::atomic<LONG> g_pauseCount{-1};
std::atomic<bool> g_resetCounter{false};
UINT g_probeMessage = 0;
uint32_t g_timeout = 60000;
// The system's PeekMessageA, not a hooked import: the watchdog is never
// paused in it.
TPeekMessage g_peek = nullptr;

// Runs in the main thread: the probe is answered to the watchdog thread, or
// to the window the word parameter names (the exception dialog asks so).
LRESULT AnswerProbe(WPARAM wp, LPARAM) {
  if (wp && IsWindow(reinterpret_cast<HWND>(wp)))
    PostMessageA(reinterpret_cast<HWND>(wp), 0, kFreezeAnswer, kFreezeAnswer);
  else if (DWORD id = g_threadId)
    PostThreadMessageA(id, 0, kFreezeAnswer, kFreezeAnswer);
  return kFreezeAnswer;
}

// Empties the watchdog's queue; true when the answer was among it.
bool TakeAnswer() {
  bool answered = false;
  MSG msg;
  while (g_peek(&msg, reinterpret_cast<HWND>(-1), 0, 0, PM_REMOVE))
    if (msg.message == 0 && msg.wParam == kFreezeAnswer && msg.lParam == static_cast<LPARAM>(kFreezeAnswer))
      answered = true;
  return answered;
}

DWORD WINAPI WatchdogThread(void*) {
  MSG msg;
  g_peek(&msg, nullptr, 0, 0, PM_NOREMOVE);  // the thread's queue
  // One watchdog per process, however many copies of the library it holds.
  if (HANDLE only = WatchdogMutex()) {
    HANDLE waits[2] = {g_stop, only};
    if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0) return 0;
  }
  TFreezeCounter counter(g_timeout);
  for (;;) {
    HANDLE waits[2] = {g_stop, g_resumed};
    if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0 + 1) break;
    if (g_resetCounter.exchange(false)) counter.Reset();
    TakeAnswer();  // late answers of earlier rounds
    const HWND window = LibraryWindow();
    if (!window) break;
    PostMessageA(window, g_probeMessage, 0, 0);
    const ULONGLONG posted = GetTickCount64();
    if (WaitForSingleObject(g_stop, counter.Interval()) == WAIT_OBJECT_0) break;
    const bool answered = TakeAnswer();
    // A handling began meanwhile: the round counts for nothing.
    if (g_pauseCount >= 0 || g_resetCounter.exchange(false)) {
      counter.Reset();
      continue;
    }
    if (counter.Round(answered, static_cast<uint32_t>(GetTickCount64() - posted))) {
      THandlingRequest request;
      request.type = etFreeze;
      request.source = esFreeze;
      HandleException(request);
      counter.Reported();
    }
  }
  if (HANDLE only = WatchdogMutex()) ReleaseMutex(only);
  return 0;
}

void CloseState() {
  if (g_thread) CloseHandle(g_thread);
  if (g_stop) CloseHandle(g_stop);
  if (g_resumed) CloseHandle(g_resumed);
  g_thread = g_stop = g_resumed = nullptr;
  g_threadId = 0;
  g_pauseCount = -1;
}

}  // namespace

bool StartFreezeWatch(uint32_t freezeTimeout) {
  std::lock_guard<std::mutex> lock(StateMutex());
  if (g_thread) return true;
  if (!CreateLibraryWindow()) return false;
  KXPtr<IKXSettings> settings = MainSettings();
  g_timeout = freezeTimeout ? freezeTimeout : settings ? static_cast<uint32_t>(settings->FreezeTimeout()) : 60000;
  g_peek = reinterpret_cast<TPeekMessage>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("user32.dll"), "PeekMessageA")));
  if (!g_peek) return false;
  if (!g_probeMessage) g_probeMessage = RegisterWindowMessageA("KestrixFreezeProbe");
  g_stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  g_resumed = CreateEventA(nullptr, TRUE, TRUE, nullptr);
  if (!g_stop || !g_resumed || !g_probeMessage) {
    CloseState();
    return false;
  }
  SetLibraryWindowProbe(g_probeMessage, AnswerProbe);
  DWORD id = 0;
  g_thread = CreateThread(nullptr, 64 * 1024, WatchdogThread, nullptr,
                          CREATE_SUSPENDED | STACK_SIZE_PARAM_IS_A_RESERVATION, &id);
  if (!g_thread) {
    SetLibraryWindowProbe(0, nullptr);
    CloseState();
    return false;
  }
  g_threadId = id;
  AssignThreadName(id, "-");
  SetThreadPriority(g_thread, THREAD_PRIORITY_HIGHEST);
  TFreezeWatchControl control;
  control.pause = PauseFreezeWatch;
  control.resetCounter = ResetFreezeCounter;
  SetFreezeWatchControl(control);
  ResumeThread(g_thread);
  return true;
}

void StopFreezeWatch() {
  std::lock_guard<std::mutex> lock(StateMutex());
  if (!g_thread) return;
  SetFreezeWatchControl(TFreezeWatchControl());
  SetLibraryWindowProbe(0, nullptr);
  const DWORD id = g_threadId;
  SetEvent(g_stop);
  // The watchdog's end is waited for: a thread ended the hard way may take
  // a lock of the system with it. Only one that cannot end (this is the
  // watchdog, inside a freeze report; or this thread holds the loader lock
  // that the ending needs) or that does not end in time is terminated.
  if (id == GetCurrentThreadId() || HoldsLoaderLock() || WaitForSingleObject(g_thread, 5000) != WAIT_OBJECT_0)
    TerminateThread(g_thread, 0);
  UnregisterThread(id);
  CloseState();
}

void PauseFreezeWatch(bool pause) {
  const DWORD id = g_threadId;
  if (!id || id == GetCurrentThreadId()) return;
  // The count and the event change together.
  static SRWLOCK pausing = SRWLOCK_INIT;
  AcquireSRWLockExclusive(&pausing);
  g_resetCounter = true;
  if (pause) {
    if (++g_pauseCount == 0 && g_resumed) ResetEvent(g_resumed);
  } else if (g_pauseCount >= 0) {
    if (--g_pauseCount < 0 && g_resumed) SetEvent(g_resumed);
  }
  ReleaseSRWLockExclusive(&pausing);
}

void ResetFreezeCounter() { g_resetCounter = true; }
bool FreezeWatchRunning() { return g_threadId != 0; }
DWORD FreezeWatchThreadId() { return g_threadId; }

}  // namespace kestrix
