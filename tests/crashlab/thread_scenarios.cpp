// Thread crashes the program never wrapped (raw threads, work items, threads
// of a library module without Kestrix), paused threads in their message
// loops, the loader lock held by another thread, and main-thread freezes.
#include "thread_scenarios.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "crash/handling/win/pausing_win32.h"
#include "crash/threads/win/code_patch_win32.h"
#include "crash/threads/win/library_threads.h"
#include "crash/threads/win/thread_hooks_win32.h"
#include "crash/watchdog/win/freeze_watch_win32.h"
#include "kestrix/kestrix.h"
#include "tests/helpers/wait.h"

namespace crashlab {

int g_freezeMs = 4000;

namespace {

class EThreadLabError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

void Say(const char* format, long value = 0) {
  std::printf(format, value);
  std::fflush(stdout);
}

// --- work items --------------------------------------------------------------------

struct TSetOnLeave {
  HANDLE event;
  ~TSetOnLeave() { SetEvent(event); }
};

__attribute__((noinline)) void ThrowInWorkItem() { throw EThreadLabError("Work item error raised on purpose"); }

DWORD WINAPI LabWorkItem(void* done) {
  TSetOnLeave leave{done};
  ThrowInWorkItem();
  return 0;
}

// The report of another thread is saved once the bug report file ends with
// its two line breaks (at most 20 s).
void WaitForReport() {
  const std::string path = kestrix::MainSettings() ? kestrix::MainSettings()->BugRepFile() : std::string();
  const bool saved = testhelpers::WaitUntil(
      [&] {
        FILE* f = std::fopen(path.c_str(), "rb");
        if (!f) return false;
        char tail[4] = {};
        const bool whole = std::fseek(f, -4, SEEK_END) == 0 && std::fread(tail, 1, 4, f) == 4 &&
                           std::memcmp(tail, "\r\n\r\n", 4) == 0;
        std::fclose(f);
        return whole;
      },
      20000, 50);
  if (!saved) Say("no report saved\n");
}

void WorkItem() {
  HANDLE done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (!QueueUserWorkItem(LabWorkItem, done, WT_EXECUTEDEFAULT)) Say("not queued\n");
  // The item's frame unwinds (setting the event) before the report is made.
  Say(WaitForSingleObject(done, 20000) == WAIT_OBJECT_0 ? "work item left\n" : "work item hangs\n");
  WaitForReport();
  CloseHandle(done);
}

// --- a library module's threads ----------------------------------------------------

void DllThreadFault(const char* starter) {
  HMODULE dll = LoadLibraryA("crashlab_dll.dll");
  auto start = dll ? reinterpret_cast<void* (*)()>(reinterpret_cast<void*>(GetProcAddress(dll, starter))) : nullptr;
  if (!start) {
    Say("crashlab_dll.dll not found\n");
    return;
  }
  void* result = start();
  if (std::string(starter) == "LabDllFaultInThread" && result) WaitForSingleObject(result, 20000);
  else Sleep(20000);
  // The fault ends the process once reported: reaching here is a failure.
  Say("no report\n");
}

// --- paused threads in their message loops ----------------------------------------------

std::atomic<long> g_pumped{0};
std::atomic<bool> g_stopPumping{false};
std::atomic<bool> g_measured{false};

LRESULT CALLBACK PumpWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_APP) {
    ++g_pumped;
    return 0;
  }
  return DefWindowProcA(hwnd, msg, wp, lp);
}

// Its own window; every round posts to it and fetches the message back,
// once through GetMessage and once through PeekMessage.
DWORD WINAPI PumpingThread(void*) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = PumpWindowProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = "TLabPumpWindow";
  RegisterClassA(&wc);
  HWND window = CreateWindowExA(0, wc.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
  MSG msg;
  for (bool peek = false; !g_stopPumping; peek = !peek) {
    PostMessageA(window, WM_APP, 0, 0);
    if (peek ? PeekMessageA(&msg, window, 0, 0, PM_REMOVE) : GetMessageA(&msg, window, 0, 0) > 0)
      DispatchMessageA(&msg);
    Sleep(1);  // a round a millisecond
  }
  DestroyWindow(window);
  return 0;
}

bool Moving() {
  const long before = g_pumped;
  Sleep(300);  // the span over which the pumping thread must (not) go on
  return g_pumped != before;
}

void MeasurePause(kestrix::IKXException*, uint8_t, bool&) {
  if (!kestrix::ThreadsPaused() || g_measured.exchange(true)) return;
  Sleep(100);  // settling time before the span is measured
  Say(Moving() ? "pumping while paused\n" : "pumping thread paused\n");
}

void PausePumping() {
  kestrix::RegisterExceptionHandler(kestrix::ekException, MeasurePause, kestrix::tmAnyThread, false);
  HANDLE pump = CreateThread(nullptr, 0, PumpingThread, nullptr, 0, nullptr);
  testhelpers::WaitUntil([] { return g_pumped >= 10; }, 2000, 20);
  Say(g_pumped >= 10 ? "pumping\n" : "not pumping\n");
  try {
    throw EThreadLabError("Error while a thread pumps");
  } catch (...) {
    kestrix::HandleEventHandlerException(std::current_exception());
  }
  Say(Moving() ? "pumping again\n" : "pumping stopped\n");
  g_stopPumping = true;
  WaitForSingleObject(pump, 5000);
  CloseHandle(pump);
}

// --- the loader lock ---------------------------------------------------------------

using TLdrLock = LONG(NTAPI*)(ULONG, ULONG*, ULONG_PTR*);
using TLdrUnlock = LONG(NTAPI*)(ULONG, ULONG_PTR);

struct THold {
  HANDLE held;
  DWORD ms;
};

DWORD WINAPI HoldLoaderLock(void* p) {
  auto* hold = static_cast<THold*>(p);
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  auto lock = reinterpret_cast<TLdrLock>(reinterpret_cast<void*>(GetProcAddress(ntdll, "LdrLockLoaderLock")));
  auto unlock = reinterpret_cast<TLdrUnlock>(reinterpret_cast<void*>(GetProcAddress(ntdll, "LdrUnlockLoaderLock")));
  ULONG_PTR cookie = 0;
  if (!lock || !unlock || lock(0, nullptr, &cookie) != 0) return 1;
  SetEvent(hold->held);
  Sleep(hold->ms);  // the hold the scenario asks for
  unlock(0, cookie);
  return 0;
}

HANDLE StartHolding(THold& hold) {
  ResetEvent(hold.held);
  HANDLE t = CreateThread(nullptr, 0, HoldLoaderLock, &hold, 0, nullptr);
  if (WaitForSingleObject(hold.held, 5000) != WAIT_OBJECT_0) Say("loader lock not taken\n");
  return t;
}

void LoaderLock() {
  THold hold{CreateEventA(nullptr, TRUE, FALSE, nullptr), 1500};
  HANDLE holder = StartHolding(hold);
  Say("stalled now: %ld\n", kestrix::IsProcessStalled(0));
  const DWORD t0 = GetTickCount();
  const bool still = kestrix::IsProcessStalled(10000);
  Say("stalled after waiting: %ld\n", still);
  Say("waited ms: %ld\n", static_cast<long>(GetTickCount() - t0));
  WaitForSingleObject(holder, 5000);
  CloseHandle(holder);
  Say("stalled when free: %ld\n", kestrix::IsProcessStalled(0));
  // A report while another thread holds the lock: made without the
  // handling thread, and no hang.
  hold.ms = 3000;
  holder = StartHolding(hold);
  try {
    throw EThreadLabError("Error while the loader lock is held");
  } catch (...) {
    kestrix::HandleEventHandlerException(std::current_exception());
  }
  WaitForSingleObject(holder, 10000);
  CloseHandle(holder);
}

// --- freezes -------------------------------------------------------------------------

__attribute__((noinline)) void FreezeLoop() {
  Say("freezing\n");
  // The clock is read seldom: the freeze is caught in this function's own
  // code, not in a call of the system's.
  const DWORD until = GetTickCount() + g_freezeMs;
  volatile unsigned spins = 0;
  do {
    for (unsigned i = 0; i < 20000000; ++i) spins = spins + 1;
  } while (static_cast<LONG>(GetTickCount() - until) < 0);
}

__attribute__((noinline)) void FreezeSleep() {
  Say("freezing\n");
  Sleep(g_freezeMs);
}

HANDLE g_lockA = nullptr, g_lockB = nullptr;

DWORD WINAPI TakeBThenA(void* ready) {
  WaitForSingleObject(g_lockB, INFINITE);
  SetEvent(ready);
  // Bounded so that the lab ends: the two wait for each other until then.
  if (WaitForSingleObject(g_lockA, g_freezeMs + 5000) == WAIT_OBJECT_0) ReleaseMutex(g_lockA);
  ReleaseMutex(g_lockB);
  return 0;
}

__attribute__((noinline)) void FreezeDeadlock() {
  g_lockA = CreateMutexA(nullptr, FALSE, nullptr);
  g_lockB = CreateMutexA(nullptr, FALSE, nullptr);
  HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  WaitForSingleObject(g_lockA, INFINITE);
  HANDLE other = CreateThread(nullptr, 0, TakeBThenA, ready, 0, nullptr);
  WaitForSingleObject(ready, 5000);
  Say("freezing\n");
  if (WaitForSingleObject(g_lockB, g_freezeMs) == WAIT_OBJECT_0) ReleaseMutex(g_lockB);
  ReleaseMutex(g_lockA);
  WaitForSingleObject(other, 10000);
  CloseHandle(other);
  CloseHandle(ready);
}

// --- a modal loop of the program ----------------------------------------------------

void CALLBACK CloseModalBox(HWND, UINT, UINT_PTR, DWORD) {
  if (HWND box = FindWindowA("#32770", "Lab modal")) PostMessageA(box, WM_CLOSE, 0, 0);
}

// A message box of the program, open for --freeze-ms: its modal loop keeps
// the main thread's messages going, so it is no freeze.
void ModalLoop() {
  Say("freezing\n");
  const UINT_PTR timer = SetTimer(nullptr, 0, g_freezeMs, CloseModalBox);
  MessageBoxA(nullptr, "A modal loop of the program", "Lab modal", MB_OK);
  KillTimer(nullptr, timer);
}

const char* ModeName(kestrix::TThreadHookMode mode) {
  switch (mode) {
    case kestrix::TThreadHookMode::kInternalCall: return "internal call";
    case kestrix::TThreadHookMode::kImports: return "imports";
    default: return "none";
  }
}

}  // namespace

void PrintHooksLeft() {
  std::printf("after shutdown: thread hooks %s, code patches %u, message hooks %s, watchdog %s\n",
              ModeName(kestrix::ThreadHookMode()), static_cast<unsigned>(kestrix::CodePatchCount()),
              kestrix::MessageHooksInstalled() ? "on" : "off", kestrix::FreezeWatchRunning() ? "on" : "off");
  std::fflush(stdout);
}

bool RaiseThreadScenario(const std::string& name) {
  if (name == "work-item") WorkItem();
  else if (name == "dll-thread-fault") DllThreadFault("LabDllFaultInThread");
  else if (name == "dll-work-item-fault") DllThreadFault("LabDllFaultInWorkItem");
  else if (name == "pause-pumping") PausePumping();
  else if (name == "loader-lock") LoaderLock();
  else if (name == "freeze-loop") FreezeLoop();
  else if (name == "freeze-sleep") FreezeSleep();
  else if (name == "freeze-deadlock") FreezeDeadlock();
  else if (name == "freeze-modal") ModalLoop();
  else if (name == "hook-mode") std::printf("thread hooks: %s\n", ModeName(kestrix::ThreadHookMode()));
  else return false;
  return true;
}

void RestartFreezeWatch() {
  kestrix::KXPtr<kestrix::IKXSettings> settings = kestrix::MainSettings();
  if (!settings || !settings->CheckFreeze() || !kestrix::KestrixActive()) return;
  kestrix::StopFreezeWatch();
  Say(kestrix::StartFreezeWatch() ? "watching\n" : "not watching\n");
}

}  // namespace crashlab
