#include "crash/watchdog/win/freeze_watch_win32.h"

#include <atomic>
#include <mutex>
#include <type_traits>
#include <utility>

#include "crash/base/win/critical_section.h"
#include "crash/base/win/scoped_handle.h"
#include "crash/handling/win/handling_entry_win32.h"
#include "crash/handling/win/library_window_win32.h"
#include "crash/settings/win/settings_object.h"
#include "crash/threads/win/library_threads.h"
#include "crash/threads/win/thread_table_win32.h"
#include "crash/watchdog/freeze_rules.h"

namespace kestrix {
namespace {

const char kProbeMessageName[] = "KestrixFreezeProbe";

using TPeekMessage = BOOL(WINAPI*)(LPMSG, HWND, UINT, UINT, UINT);

// The watchdog's state. Constant-initialized and never destroyed: the
// handling thread pauses the watchdog in the middle of a report, and the
// process's end may stop it after the static destructors.
struct TFreezeWatchState {
  // Held by StartFreezeWatch and StopFreezeWatch.
  TSlimLock lock;
  // Written under `lock` by StartFreezeWatch, closed and cleared by
  // CloseState; `stop` set: the watchdog ends; `resumed` reset while paused.
  HANDLE thread = nullptr;
  HANDLE stop = nullptr;
  HANDLE resumed = nullptr;
  // Written under `lock`; read by the main thread's probe answer and by
  // PauseFreezeWatch from any thread.
  std::atomic<DWORD> threadId{0};
  // Written by StartFreezeWatch before the watchdog thread starts.
  uint32_t timeout = 60000;
  // The system's PeekMessageA, not a hooked import: the watchdog is never
  // paused in it.
  TPeekMessage peek = nullptr;
  // Written by PauseFreezeWatch under `pausing` (the count and the event
  // change together), read by the watchdog thread.
  SRWLOCK pausing = SRWLOCK_INIT;
  std::atomic<LONG> pauseCount{-1};
  // Set by PauseFreezeWatch and ResetFreezeCounter, taken by the watchdog.
  std::atomic<bool> resetCounter{false};
};
constinit TFreezeWatchState g_watch;
static_assert(std::is_trivially_destructible_v<TFreezeWatchState>, "no destructor runs at the process's end");

// Runs in the main thread: the probe is answered to the watchdog thread, or
// to the window the word parameter names (the exception dialog asks so).
LRESULT AnswerProbe(WPARAM wp, LPARAM) {
  if (wp && IsWindow(reinterpret_cast<HWND>(wp)))
    PostMessageA(reinterpret_cast<HWND>(wp), 0, kFreezeAnswer, kFreezeAnswer);
  else if (DWORD id = g_watch.threadId)
    PostThreadMessageA(id, 0, kFreezeAnswer, kFreezeAnswer);
  return kFreezeAnswer;
}

// Empties the watchdog's queue; true when the answer was among it.
bool TakeAnswer() {
  bool answered = false;
  MSG msg;
  while (g_watch.peek(&msg, reinterpret_cast<HWND>(-1), 0, 0, PM_REMOVE))
    if (msg.message == 0 && msg.wParam == kFreezeAnswer && msg.lParam == static_cast<LPARAM>(kFreezeAnswer))
      answered = true;
  return answered;
}

// The parameter is the probe message (the library window keeps the one
// record of it).
DWORD WINAPI WatchdogThread(void* parameter) {
  const UINT probeMessage = static_cast<UINT>(reinterpret_cast<uintptr_t>(parameter));
  MSG msg;
  g_watch.peek(&msg, nullptr, 0, 0, PM_NOREMOVE);  // the thread's queue
  // One watchdog per process, however many copies of the library it holds.
  if (HANDLE only = WatchdogMutex()) {
    HANDLE waits[2] = {g_watch.stop, only};
    if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0) return 0;
  }
  TFreezeCounter counter(g_watch.timeout);
  for (;;) {
    HANDLE waits[2] = {g_watch.stop, g_watch.resumed};
    if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0 + 1) break;
    if (g_watch.resetCounter.exchange(false)) counter.Reset();
    TakeAnswer();  // late answers of earlier rounds
    const HWND window = LibraryWindow();
    if (!window) break;
    PostMessageA(window, probeMessage, 0, 0);
    const ULONGLONG posted = GetTickCount64();
    if (WaitForSingleObject(g_watch.stop, counter.Interval()) == WAIT_OBJECT_0) break;
    const bool answered = TakeAnswer();
    // A handling began meanwhile: the round counts for nothing.
    if (g_watch.pauseCount >= 0 || g_watch.resetCounter.exchange(false)) {
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
  TScopedHandle thread(std::exchange(g_watch.thread, nullptr));
  TScopedHandle stop(std::exchange(g_watch.stop, nullptr));
  TScopedHandle resumed(std::exchange(g_watch.resumed, nullptr));
  g_watch.threadId = 0;
  g_watch.pauseCount = -1;
}

}  // namespace

bool StartFreezeWatch(uint32_t freezeTimeout) {
  std::lock_guard<TSlimLock> lock(g_watch.lock);
  if (g_watch.thread) return true;
  if (!CreateLibraryWindow()) return false;
  KXPtr<IKXSettings> settings = MainSettings();
  g_watch.timeout = freezeTimeout ? freezeTimeout : settings ? static_cast<uint32_t>(settings->FreezeTimeout()) : 60000;
  g_watch.peek = reinterpret_cast<TPeekMessage>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("user32.dll"), "PeekMessageA")));
  if (!g_watch.peek) return false;
  const UINT probeMessage = RegisterWindowMessageA(kProbeMessageName);  // the same number each time
  g_watch.stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  g_watch.resumed = CreateEventA(nullptr, TRUE, TRUE, nullptr);
  if (!g_watch.stop || !g_watch.resumed || !probeMessage) {
    CloseState();
    return false;
  }
  SetLibraryWindowProbe(probeMessage, AnswerProbe);
  DWORD id = 0;
  g_watch.thread = CreateThread(nullptr, 64 * 1024, WatchdogThread, reinterpret_cast<void*>(uintptr_t{probeMessage}),
                                CREATE_SUSPENDED | STACK_SIZE_PARAM_IS_A_RESERVATION, &id);
  if (!g_watch.thread) {
    SetLibraryWindowProbe(0, nullptr);
    CloseState();
    return false;
  }
  g_watch.threadId = id;
  AssignThreadName(id, "-");
  SetThreadPriority(g_watch.thread, THREAD_PRIORITY_HIGHEST);
  TFreezeWatchControl control;
  control.pause = PauseFreezeWatch;
  control.resetCounter = ResetFreezeCounter;
  SetFreezeWatchControl(control);
  ResumeThread(g_watch.thread);
  return true;
}

// Without the lock: the dialog may show while StopFreezeWatch holds it and
// waits for the watchdog, which waits for the dialog.
bool WatchFreezeDialog(HWND dialog) {
  if (!g_watch.threadId || !dialog) return false;
  HWND window = LibraryWindow();
  return window && PostMessageA(window, RegisterWindowMessageA(kProbeMessageName), reinterpret_cast<WPARAM>(dialog), 0);
}

void StopFreezeWatch() {
  std::lock_guard<TSlimLock> lock(g_watch.lock);
  if (!g_watch.thread) return;
  SetFreezeWatchControl(TFreezeWatchControl());
  SetLibraryWindowProbe(0, nullptr);
  const DWORD id = g_watch.threadId;
  SetEvent(g_watch.stop);
  // The watchdog's end is waited for: a thread ended the hard way may take
  // a lock of the system with it. Only one that cannot end (this is the
  // watchdog, inside a freeze report; or this thread holds the loader lock
  // that the ending needs) or that does not end in time is terminated.
  if (id == GetCurrentThreadId() || HoldsLoaderLock() || WaitForSingleObject(g_watch.thread, 5000) != WAIT_OBJECT_0)
    TerminateThread(g_watch.thread, 0);
  UnregisterThread(id);
  CloseState();
}

void PauseFreezeWatch(bool pause) {
  const DWORD id = g_watch.threadId;
  if (!id || id == GetCurrentThreadId()) return;
  AcquireSRWLockExclusive(&g_watch.pausing);
  g_watch.resetCounter = true;
  if (pause) {
    if (++g_watch.pauseCount == 0 && g_watch.resumed) ResetEvent(g_watch.resumed);
  } else if (g_watch.pauseCount >= 0) {
    if (--g_watch.pauseCount < 0 && g_watch.resumed) SetEvent(g_watch.resumed);
  }
  ReleaseSRWLockExclusive(&g_watch.pausing);
}

void ResetFreezeCounter() { g_watch.resetCounter = true; }
bool FreezeWatchRunning() { return g_watch.threadId != 0; }
DWORD FreezeWatchThreadId() { return g_watch.threadId; }

}  // namespace kestrix
