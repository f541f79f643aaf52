// The thread and message hooks in-process: wrapped thread functions and
// work items, their creators in the registry, the pause check in message
// calls, the stalled-process test, and installing and removing the hooks
// a thousand times while threads are created and messages pumped.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

#include "crash/startup/win/startup_win32.h"
#include "crash/threads/win/code_patch_win32.h"
#include "crash/threads/win/library_threads.h"
#include "crash/threads/win/thread_hooks_win32.h"
#include "crash/threads/win/thread_table_win32.h"
#include "tests/helpers/wait.h"

namespace kestrix {
namespace {

std::atomic<int> g_reports{0};
std::atomic<int> g_lastSource{0};

void CountReport(std::exception_ptr error, uint8_t source, const void*) {
  try {
    std::rethrow_exception(error);
  } catch (const std::runtime_error&) {
    g_lastSource = source;
    ++g_reports;
  } catch (...) {
  }
}

TThreadHookConfig Config() {
  TThreadHookConfig c;
  c.report = CountReport;
  return c;
}

class ThreadHooks : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(OpenThreadTable());
    g_reports = 0;
    g_lastSource = 0;
    ASSERT_TRUE(InstallThreadHooks(Config()));
  }
  void TearDown() override {
    RemoveThreadHooks();
    RemoveMessageHooks();
  }
};

DWORD WINAPI Throws(void*) { throw std::runtime_error("thread function error"); }

TEST_F(ThreadHooks, AnExceptionLeavingAThreadFunctionIsReportedAndEndsOnlyThatThread) {
  HANDLE h = CreateThread(nullptr, 0, Throws, nullptr, 0, nullptr);
  ASSERT_NE(h, nullptr);
  ASSERT_EQ(WaitForSingleObject(h, 10000), WAIT_OBJECT_0);
  DWORD code = 0;
  GetExitCodeThread(h, &code);
  CloseHandle(h);
  EXPECT_EQ(code, 0xFFFFFFFFu);
  EXPECT_EQ(g_reports, 1);
  EXPECT_EQ(g_lastSource, 16);
}

struct TSeen {
  TThreadInfo info;
  HANDLE done;
};

DWORD WINAPI LooksAtItself(void* p) {
  auto* seen = static_cast<TSeen*>(p);
  LookupThread(GetCurrentThreadId(), seen->info, 1000);
  SetEvent(seen->done);
  return 5;
}

HMODULE ModuleOf(uint32_t address) {
  HMODULE m = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCSTR>(address), &m);
  return m;
}

TEST_F(ThreadHooks, ThreadsCarryTheirCreatorWhileTheyRunAndLeaveTheRegistryAtTheirEnd) {
  TSeen seen{{}, CreateEventA(nullptr, TRUE, FALSE, nullptr)};
  DWORD id = 0;
  HANDLE h = CreateThread(nullptr, 0, LooksAtItself, &seen, CREATE_SUSPENDED, &id);
  ASSERT_NE(h, nullptr);
  EXPECT_NE(id, 0u);
  ResumeThread(h);  // asked for suspended, and stays so until resumed
  ASSERT_EQ(WaitForSingleObject(h, 10000), WAIT_OBJECT_0);
  DWORD code = 0;
  GetExitCodeThread(h, &code);
  EXPECT_EQ(code, 5u);
  EXPECT_TRUE(seen.info.registered);
  EXPECT_EQ(seen.info.creatorThreadId, GetCurrentThreadId());
  // The creator is this test's code, not the system's thread start.
  EXPECT_EQ(ModuleOf(seen.info.creatorAddress), GetModuleHandleA(nullptr));
  TThreadInfo after;
  LookupThread(id, after, 1000);
  EXPECT_FALSE(after.registered);
  CloseHandle(h);
  CloseHandle(seen.done);
}

// A thread function of the wrong calling convention: it leaves its
// parameter on the stack.
DWORD __cdecl CdeclThread(void* p) { return reinterpret_cast<DWORD>(p) + 1; }

TEST_F(ThreadHooks, AThreadFunctionLeavingItsParameterOnTheStackStillReturns) {
  HANDLE h = CreateThread(nullptr, 0, reinterpret_cast<LPTHREAD_START_ROUTINE>(reinterpret_cast<void*>(&CdeclThread)),
                          reinterpret_cast<void*>(41), 0, nullptr);
  ASSERT_EQ(WaitForSingleObject(h, 10000), WAIT_OBJECT_0);
  DWORD code = 0;
  GetExitCodeThread(h, &code);
  CloseHandle(h);
  EXPECT_EQ(code, 42u);
}

DWORD WINAPI ThrowingItem(void* done) {
  struct TSet {
    HANDLE e;
    ~TSet() { SetEvent(e); }
  } set{static_cast<HANDLE>(done)};
  throw std::runtime_error("work item error");
}

TEST_F(ThreadHooks, AnExceptionLeavingAWorkItemIsReported) {
  HANDLE done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  ASSERT_TRUE(QueueUserWorkItem(ThrowingItem, done, WT_EXECUTEDEFAULT));
  ASSERT_EQ(WaitForSingleObject(done, 10000), WAIT_OBJECT_0);
  testhelpers::WaitUntil([] { return g_reports != 0; }, 2000);
  EXPECT_EQ(g_reports, 1);
  EXPECT_EQ(g_lastSource, 16);
  CloseHandle(done);
}

TEST_F(ThreadHooks, AnExceptionLeavingAStdThreadIsReportedAsTheRuntimesThreadObject) {
  std::thread t([] { throw std::runtime_error("std::thread error"); });
  t.join();
  EXPECT_EQ(g_reports, 1);
  EXPECT_EQ(g_lastSource, 17);
}

// Through the import slot as it is now (the compiler may keep one load of
// a slot for a whole function).
__attribute__((noinline)) HANDLE CreateSuspended(LPTHREAD_START_ROUTINE f, DWORD* id) {
  return CreateThread(nullptr, 0, f, nullptr, CREATE_SUSPENDED, id);
}

DWORD WINAPI ReturnsAtOnce(void*) { return 0; }

// Lets a suspended thread run to its end. (Terminating a thread that never
// ran crashes Wine's process now and then.)
void RunToEnd(HANDLE h) {
  ResumeThread(h);
  WaitForSingleObject(h, 10000);
  CloseHandle(h);
}

TEST_F(ThreadHooks, RemovedHooksLeaveNothingPatched) {
  // Hooked, a new thread is registered before it first runs.
  DWORD id = 0;
  HANDLE h = CreateSuspended(ReturnsAtOnce, &id);
  TThreadInfo info;
  LookupThread(id, info, 1000);
  EXPECT_TRUE(info.registered);
  RunToEnd(h);
  UnregisterThread(id);
  RemoveThreadHooks();
  EXPECT_EQ(ThreadHookMode(), TThreadHookMode::kNone);
  EXPECT_EQ(CodePatchCount(), 0u);
  h = CreateSuspended(ReturnsAtOnce, &id);
  LookupThread(id, info, 1000);
  EXPECT_FALSE(info.registered);
  RunToEnd(h);
}

std::atomic<int> g_checks{0};
void CountCheck() {
  ++g_checks;
  SetLastError(777);
}

__attribute__((noinline)) void Peek(MSG* msg) { PeekMessageA(msg, nullptr, 0, 0, PM_NOREMOVE); }

TEST_F(ThreadHooks, MessageCallsRunThePauseCheckFirstAndKeepLastError) {
  MSG msg;
  SetLastError(1234);
  Peek(&msg);
  const DWORD plainError = GetLastError();
  ASSERT_TRUE(InstallMessageHooks(CountCheck));
  g_checks = 0;
  SetLastError(1234);
  Peek(&msg);
  EXPECT_EQ(GetLastError(), plainError) << "the check's last error does not leak";
  PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
  PostThreadMessageA(GetCurrentThreadId(), WM_USER, 0, 0);
  GetMessageA(&msg, nullptr, 0, 0);
  PostThreadMessageW(GetCurrentThreadId(), WM_USER, 0, 0);
  GetMessageW(&msg, nullptr, 0, 0);
  // Each call at least once (the system's own message calls may add some).
  const int checks = g_checks;
  EXPECT_GE(checks, 4);
  RemoveMessageHooks();
  Peek(&msg);
  EXPECT_EQ(g_checks, checks);
}

DWORD WINAPI EndsAtOnce(void*) { return 0; }

TEST(ThreadRegistry, AThreadThatEndedUnseenIsPurgedByTheNextRegistration) {
  ASSERT_TRUE(OpenThreadTable());
  DWORD id = 0;
  HANDLE h = CreateThread(nullptr, 0, EndsAtOnce, nullptr, CREATE_SUSPENDED, &id);
  HANDLE own = nullptr;
  DuplicateHandle(GetCurrentProcess(), h, GetCurrentProcess(), &own, SYNCHRONIZE | THREAD_QUERY_INFORMATION, FALSE,
                  0);
  RecordThreadInfo(id, own, "short lived", 0, 0, "");
  TThreadInfo info;
  LookupThread(id, info, 1000);
  EXPECT_EQ(info.name, "short lived");
  ResumeThread(h);
  WaitForSingleObject(h, 10000);
  CloseHandle(h);
  AssignThreadName(GetCurrentThreadId(), "registry test");
  LookupThread(id, info, 1000);
  EXPECT_FALSE(info.registered);
  LookupThread(GetCurrentThreadId(), info, 1000);
  EXPECT_EQ(info.name, "registry test");
}

// --- the stalled process ------------------------------------------------------------

using TLdrLock = LONG(NTAPI*)(ULONG, ULONG*, ULONG_PTR*);
using TLdrUnlock = LONG(NTAPI*)(ULONG, ULONG_PTR);

TEST(StalledProcess, TheLoaderLockHeldByAnotherThreadStallsUntilReleased) {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  auto lock = reinterpret_cast<TLdrLock>(reinterpret_cast<void*>(GetProcAddress(ntdll, "LdrLockLoaderLock")));
  auto unlock = reinterpret_cast<TLdrUnlock>(reinterpret_cast<void*>(GetProcAddress(ntdll, "LdrUnlockLoaderLock")));
  ASSERT_TRUE(lock && unlock);
  EXPECT_FALSE(IsProcessStalled(0));
  HANDLE held = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::thread holder([&] {
    ULONG_PTR cookie = 0;
    if (lock(0, nullptr, &cookie) != 0) return;
    SetEvent(held);
    Sleep(400);  // the stall the checks below see
    unlock(0, cookie);
  });
  ASSERT_EQ(WaitForSingleObject(held, 5000), WAIT_OBJECT_0);
  EXPECT_TRUE(IsProcessStalled(0));
  EXPECT_TRUE(IsProcessStalled(50));
  const DWORD t0 = GetTickCount();
  EXPECT_FALSE(IsProcessStalled(5000));  // released meanwhile
  EXPECT_LT(GetTickCount() - t0, 3000u);
  holder.join();
  // Held by this very thread: stalled at once.
  ULONG_PTR cookie = 0;
  ASSERT_EQ(lock(0, nullptr, &cookie), 0);
  EXPECT_TRUE(IsProcessStalled(1000));
  unlock(0, cookie);
  CloseHandle(held);
}

// --- installing and removing under load -------------------------------------------------

DWORD WINAPI Short(void* counter) {
  ++*static_cast<std::atomic<int>*>(counter);
  return 0;
}

TEST(HookLoad, AThousandInstallsAndRemovalsWhileEightThreadsCreateThreadsAndPumpMessages) {
  ASSERT_TRUE(OpenThreadTable());
  void* createThread = reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "CreateThread"));
  void* peek = reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("user32.dll"), "PeekMessageA"));
  const size_t slotsBefore = CountImportSlots(createThread) + CountImportSlots(peek);
  std::atomic<bool> stop{false};
  std::atomic<int> started{0}, ran{0}, failed{0};
  std::vector<std::thread> load;
  for (int i = 0; i < 8; ++i)
    load.emplace_back([&, i] {
      MSG msg;
      while (!stop) {
        if (i % 2 == 0) {
          HANDLE h = CreateThread(nullptr, 0, Short, &ran, 0, nullptr);
          if (!h) {
            ++failed;
            continue;
          }
          ++started;
          WaitForSingleObject(h, INFINITE);
          CloseHandle(h);
        } else {
          std::thread([&] { ++ran; }).join();
          ++started;
        }
        PostThreadMessageA(GetCurrentThreadId(), WM_USER, 0, 0);
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        }
      }
    });
  const DWORD handlesBefore = [] {
    DWORD n = 0;
    GetProcessHandleCount(GetCurrentProcess(), &n);
    return n;
  }();
  // Both ways of hooking: the internal call redirected (as the start-up
  // does it) and the import slots patched.
  bool internalCall = false;
  for (int i = 0; i < 1000; ++i) {
    ASSERT_TRUE(i % 2 == 0 ? InstallLibraryThreadHooks() : InstallThreadHooks(Config()));
    internalCall |= ThreadHookMode() == TThreadHookMode::kInternalCall;
    ASSERT_TRUE(InstallMessageHooks(CountCheck));
    RemoveMessageHooks();
    RemoveThreadHooks();
  }
  stop = true;
  for (auto& t : load) t.join();
  EXPECT_TRUE(internalCall);
  EXPECT_EQ(failed, 0);
  EXPECT_EQ(ran, started);
  EXPECT_GT(started, 100);
  // Nothing left patched: no code record, every import slot back.
  EXPECT_EQ(CodePatchCount(), 0u);
  EXPECT_EQ(ThreadHookMode(), TThreadHookMode::kNone);
  EXPECT_FALSE(MessageHooksInstalled());
  EXPECT_EQ(CountImportSlots(createThread) + CountImportSlots(peek), slotsBefore);
  MSG msg;
  g_checks = 0;
  Peek(&msg);
  EXPECT_EQ(g_checks, 0);
  // No handles lost on the way (the registry's own come and go).
  DWORD handlesAfter = 0;
  GetProcessHandleCount(GetCurrentProcess(), &handlesAfter);
  EXPECT_LT(handlesAfter, handlesBefore + 20);
}

}  // namespace
}  // namespace kestrix
