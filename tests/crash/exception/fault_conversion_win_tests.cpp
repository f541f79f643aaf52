// Fault conversion in-process: faults become catchable exceptions with their
// text and stack, the access violation text and other codes, stack overflows
// thrown on with the stack guard put back once caught, the stack probe's
// faults taken as its caller's, the per-thread count of throws in flight,
// call sites.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <stdexcept>
#include <string>
#include <thread>

#include "crash/exception/win/fault_conversion_win32.h"
#include "crash/exception/win/thread_fault_state_win32.h"

extern "C" void __chkstk_ms();

namespace kestrix {
namespace {

__attribute__((noinline)) int Recurse(int depth) {
  volatile char pad[512];
  pad[depth % 512] = static_cast<char>(depth);
  return Recurse(depth + 1) + pad[0];
}

// A frame larger than a page: the stack probe touches it first.
__attribute__((noinline)) int RecurseLarge(int depth) {
  volatile char pad[3 * 4096];
  pad[depth % sizeof pad] = static_cast<char>(depth);
  return RecurseLarge(depth + 1) + pad[0];
}

struct TOverflow {
  bool caught = false;
  uint32_t code = 0, address = 0, caller = 0;
};

TOverflow OverflowIn(int (*recurse)(int)) {
  TOverflow seen;
  try {
    recurse(0);
  } catch (const EExternal& e) {
    seen.caught = true;
    seen.code = e.Record().ExceptionCode;
    seen.address = reinterpret_cast<uint32_t>(e.Record().ExceptionAddress);
    seen.caller = e.Stack().frameCount > 1 ? e.Stack().frames[1] : 0;
  }
  return seen;
}

bool Within(uint32_t address, void* function, uint32_t size) {
  const uint32_t start = reinterpret_cast<uint32_t>(function);
  return address >= start && address < start + size;
}

TEST(FaultConversion, StackOverflowIsCaughtAgainAfterTheGuardIsBack) {
  InstallFaultConversion();
  TOverflow rounds[3];
  std::thread worker([&] {
    for (TOverflow& round : rounds) round = OverflowIn(Recurse);
  });
  worker.join();
  for (const TOverflow& round : rounds) {
    ASSERT_TRUE(round.caught);
    EXPECT_EQ(round.code, 0xC00000FDu);
    EXPECT_TRUE(Within(round.address, reinterpret_cast<void*>(&Recurse), 256));
  }
  RemoveFaultConversion();
}

TEST(FaultConversion, FaultInTheStackProbeIsItsCallers) {
  InstallFaultConversion();
  TOverflow seen;
  std::thread worker([&] { seen = OverflowIn(RecurseLarge); });
  worker.join();
  ASSERT_TRUE(seen.caught);
  EXPECT_EQ(seen.code, 0xC00000FDu);
  EXPECT_TRUE(Within(seen.address, reinterpret_cast<void*>(&__chkstk_ms), 48)) << std::hex << seen.address;
  EXPECT_TRUE(Within(seen.caller, reinterpret_cast<void*>(&RecurseLarge), 256)) << std::hex << seen.caller;
  RemoveFaultConversion();
}

struct TStateInDestructor {
  uint32_t* state;
  ~TStateInDestructor() { *state = fault_state::Read(); }
};

__attribute__((noinline)) int FaultWithCleanup(uint32_t* state) {
  TStateInDestructor probe{state};
  return *reinterpret_cast<volatile int*>(0x20);
}

__attribute__((noinline)) void ThrowWithCleanup(uint32_t* state) {
  TStateInDestructor probe{state};
  throw std::runtime_error("thrown");
}

TEST(FaultConversion, ThrowsInFlightAreCountedUntilCaught) {
  InstallFaultConversion();
  const uint32_t inFlight = fault_state::kDepthMask | fault_state::kConverting | fault_state::kFirstPending;
  uint32_t during = 0;
  try {
    ThrowWithCleanup(&during);
  } catch (const std::exception&) {
    EXPECT_EQ(fault_state::Read() & inFlight, 0u) << "caught";
  }
  EXPECT_EQ(during & inFlight, 1u) << "one throw in flight while unwinding";
  try {
    FaultWithCleanup(&during);
  } catch (const EExternal&) {
    EXPECT_EQ(fault_state::Read() & inFlight, 0u);
  }
  EXPECT_EQ(during & inFlight, 1u | fault_state::kFirstPending) << "a converted fault in flight";
  // Rethrown and caught again, nested in a handler: still balanced.
  try {
    try {
      throw 1;
    } catch (int) {
      try {
        throw 2;
      } catch (int) {
      }
      throw;
    }
  } catch (int) {
  }
  EXPECT_EQ(fault_state::Read() & inFlight, 0u);
  RemoveFaultConversion();
}

__attribute__((noinline)) uint32_t ReturnAddress() {
  return reinterpret_cast<uint32_t>(__builtin_return_address(0));
}

TEST(FaultConversion, CallSitesOfReturnAddresses) {
  const uint32_t direct = ReturnAddress();
  EXPECT_EQ(CallInstructionBefore(direct), direct - 5) << "call rel32";
  uint32_t (*volatile through)() = ReturnAddress;
  const uint32_t indirect = through();
  const uint32_t call = CallInstructionBefore(indirect);
  ASSERT_NE(call, 0u);
  EXPECT_EQ(reinterpret_cast<const uint8_t*>(call)[0], 0xFF) << "an indirect call";
  EXPECT_GE(indirect - call, 2u);
  EXPECT_LE(indirect - call, 6u);
  EXPECT_EQ(CallInstructionBefore(reinterpret_cast<uint32_t>(&ReturnAddress)), 0u) << "a function's start";
  EXPECT_EQ(CallInstructionBefore(0x20), 0u) << "no code there";
}

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

}  // namespace
}  // namespace kestrix
