// The library's Windows layer in-process: fault conversion, the access
// violation text, the handling flow with a handler, the thread registry.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "crash/exception/win/fault_conversion_win32.h"
#include "crash/handling/win/handling_entry_win32.h"
#include "crash/threads/win/thread_table_win32.h"

namespace kestrix {
namespace {

std::string ExeName() {
  char path[MAX_PATH];
  std::string p(path, GetModuleFileNameA(nullptr, path, MAX_PATH));
  return p.substr(p.find_last_of('\\') + 1);
}

struct Counted {
  int* count;
  ~Counted() { ++*count; }
};

__attribute__((noinline)) int ReadAt(uintptr_t address, int* destroyed) {
  Counted c{destroyed};
  return *reinterpret_cast<volatile int*>(address);
}

__attribute__((noinline)) int Divide(int a, int b) {
  volatile int divisor = b;
  return a / divisor;
}

TEST(FaultConversion, FaultsBecomeCatchableExceptions) {
  InstallFaultConversion();
  int destroyed = 0;
  for (int round = 0; round < 3; ++round) {
    try {
      ReadAt(0x20, &destroyed);
      FAIL() << "no fault";
    } catch (const EExternal& e) {
      EXPECT_EQ(e.ClassName(), "EAccessViolation");
      EXPECT_EQ(e.Record().ExceptionCode, static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION));
      EXPECT_EQ(e.Context().Eip, reinterpret_cast<DWORD>(e.Record().ExceptionAddress));
      char expected[200];
      snprintf(expected, sizeof expected, "Access violation at address $%lx in module '%s'. Read of address $20",
               static_cast<unsigned long>(e.Context().Eip), ExeName().c_str());
      EXPECT_EQ(e.Message(), expected);
      // The captured chain starts at the fault and goes on into this test.
      ASSERT_GE(e.Stack().frameCount, 2);
      EXPECT_EQ(e.Stack().frames[0], e.Context().Eip);
      EXPECT_EQ(e.Stack().esp, e.Context().Esp);
      EXPECT_GT(e.Stack().byteCount, 0);
    }
  }
  EXPECT_EQ(destroyed, 3) << "frames unwound by the fault run their destructors";
  try {
    volatile int result = Divide(1, 0);
    FAIL() << "no fault " << result;
  } catch (const KxException& e) {
    EXPECT_EQ(e.ClassName(), "EDivByZero");
    EXPECT_EQ(e.Message(), "Division by zero");
  }
  RemoveFaultConversion();
}

TEST(FaultConversion, AccessViolationTextAndOtherCodes) {
  EXCEPTION_RECORD r{};
  r.ExceptionCode = EXCEPTION_ACCESS_VIOLATION;
  r.NumberParameters = 2;
  r.ExceptionInformation[0] = 1;
  r.ExceptionInformation[1] = 0xABC0;
  r.ExceptionAddress = reinterpret_cast<void*>(0x10);  // in no module
  EXPECT_EQ(FormatAccessViolation(r), "Access Violation");
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  r.ExceptionAddress = reinterpret_cast<void*>(GetProcAddress(kernel, "Sleep"));
  char expected[160];
  snprintf(expected, sizeof expected, "Access violation at address $%lx in module 'kernel32.dll'. Write of address $abc0",
           reinterpret_cast<unsigned long>(r.ExceptionAddress));
  EXPECT_EQ(FormatAccessViolation(r), expected);
  r.ExceptionCode = 0xE0001234;
  EXPECT_EQ(SystemExceptionText(r), "External exception e0001234");
  EXPECT_STREQ(SystemExceptionClassName(0xE0001234), "EExternalException");
  r.ExceptionCode = EXCEPTION_STACK_OVERFLOW;
  EXPECT_EQ(SystemExceptionText(r), "Stack overflow");
}

struct Seen {
  int calls = 0;
  std::string className, message;
  uint8_t source = 0;
  bool canContinue = false;
  std::string order;
};
Seen g_seen;

void Recorder(IKXException* e, uint8_t, bool& handled) {
  ++g_seen.calls;
  g_seen.className = e->ExceptionClassName();
  g_seen.message = e->ExceptionMessageText();
  g_seen.source = e->Source();
  g_seen.canContinue = e->ContinueAllowed();
  g_seen.order += "p";
  handled = true;
}

void Method(void* self, IKXException*, uint8_t, bool&) { static_cast<Seen*>(self)->order += "m"; }

class LabError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

__attribute__((noinline)) void ThrowLab() { throw LabError("wrong turn"); }

TEST(HandlingFlow, HandlersSeeTheExceptionAndMayHandleIt) {
  g_seen = Seen();
  RegisterExceptionHandler(ekException, Recorder, tmAnyThread, false);
  RegisterExceptionHandler(ekException, Method, &g_seen, tmAnyThread, false);
  try {
    ThrowLab();
  } catch (...) {
    HandleCppException(std::current_exception(), esEventHandler, true);
  }
  UnregisterExceptionHandler(ekException, Recorder);
  UnregisterExceptionHandler(ekException, Method, &g_seen);
  EXPECT_EQ(g_seen.calls, 1) << "a handled exception ends the rounds";
  EXPECT_EQ(g_seen.order, "mp") << "methods before procedures";
  EXPECT_EQ(g_seen.className, "LabError");
  EXPECT_EQ(g_seen.message, "wrong turn.");
  EXPECT_EQ(g_seen.source, esEventHandler);
  EXPECT_TRUE(g_seen.canContinue);
}

TEST(HandlingFlow, SilentExceptionsReachNoHandler) {
  g_seen = Seen();
  RegisterExceptionHandler(ekException, Recorder, tmAnyThread, false);
  HandleCppException(std::make_exception_ptr(EAbort()), esEventHandler, true);
  UnregisterExceptionHandler(ekException, Recorder);
  EXPECT_EQ(g_seen.calls, 0);
}

TEST(ThreadTable, NamesAndTitlesOfThreads) {
  ASSERT_TRUE(OpenThreadTable());
  TThreadInfo info;
  ASSERT_TRUE(LookupThread(GetCurrentThreadId(), info));
  const DWORD id = 0x7FFF0001;  // no such thread
  RecordThreadInfo(id, nullptr, "worker", 5, 0x401000, "TWorker");
  ASSERT_TRUE(LookupThread(id, info));
  EXPECT_TRUE(info.registered);
  EXPECT_EQ(info.name, "worker");
  EXPECT_EQ(info.className, "TWorker");
  EXPECT_EQ(info.creatorAddress, 0x401000u);
  EXPECT_EQ(info.creatorThreadId, 5u);
  AssignThreadName(id, "renamed");
  ASSERT_TRUE(LookupThread(id, info));
  EXPECT_EQ(info.name, "renamed");
  EXPECT_EQ(info.className, "TWorker") << "renaming keeps the class";
  UnregisterThread(id);
  ASSERT_TRUE(LookupThread(id, info));
  EXPECT_FALSE(info.registered);
  // The registry is the shared memory every copy of the library opens.
  char name[64];
  snprintf(name, sizeof name, "KestrixThreadNameBuf$%lx", GetCurrentProcessId());
  HANDLE map = OpenFileMappingA(FILE_MAP_READ, FALSE, name);
  EXPECT_TRUE(map != nullptr);
  if (map) CloseHandle(map);
}

TEST(ThreadTable, ThreadIdsListThisProcessOnly) {
  const std::vector<DWORD> ids = ThreadIds();
  bool self = false;
  for (DWORD id : ids) self |= id == GetCurrentThreadId();
  EXPECT_TRUE(self);
}

}  // namespace
}  // namespace kestrix
