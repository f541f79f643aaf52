// The rules for processor faults and the one table of system exception
// codes: what is thrown on, what is left to the system, what is reported
// from a fresh stack, and what never gets a second round.
#include "crash/exception/fault_policy.h"
#include "crash/exception/system_exceptions.h"

#include <gtest/gtest.h>

namespace kestrix {
namespace {

constexpr uint32_t kAccessViolation = 0xC0000005, kStackOverflow = 0xC00000FD;

// A fault in the program's own code with unwind information and plenty of
// stack: the case that is thrown on.
TFaultFacts Convertible(uint32_t code = kAccessViolation) {
  TFaultFacts f;
  f.code = code;
  f.owner = TCodeOwner::kProgram;
  f.unwindInfo = true;
  f.stackUsable = true;
  f.stackRoom = 512 * 1024;
  return f;
}

TEST(FaultRules, ThrownOnOnlyWhereUnwindingCanWork) {
  EXPECT_EQ(DecideFault(Convertible()), TFaultAction::kConvert);
  for (uint32_t code : {0xC0000094u, 0xC000001Du, 0xC0000096u, 0x80000003u, 0xC000008Eu})
    EXPECT_EQ(DecideFault(Convertible(code)), TFaultAction::kConvert) << std::hex << code;

  TFaultFacts f = Convertible();
  f.unwindInfo = false;  // hand-written code, no frame description
  EXPECT_EQ(DecideFault(f), TFaultAction::kPass) << "left to the unhandled-exception filter";
  f = Convertible();
  f.stackUsable = false;
  EXPECT_EQ(DecideFault(f), TFaultAction::kPass);
  f = Convertible();
  f.noncontinuable = true;
  EXPECT_EQ(DecideFault(f), TFaultAction::kPass);
  // System code may handle its own faults: the system's search goes on.
  f = Convertible();
  f.owner = TCodeOwner::kOther;
  EXPECT_EQ(DecideFault(f), TFaultAction::kPass);
  // A call to nowhere has no frame that could, and the system's handler
  // around a window procedure called back would swallow it: reported.
  f.owner = TCodeOwner::kNone;
  EXPECT_EQ(DecideFault(f), TFaultAction::kReport);
  f.libraryThread = true;
  EXPECT_EQ(DecideFault(f), TFaultAction::kLibraryFault);
}

TEST(FaultRules, OtherExceptionCodesAlwaysPass) {
  for (uint32_t code : {0xE06D7363u, 0x406D1388u, 0x40010006u, 0xE0001234u, 0x80000001u, 0xC0000374u}) {
    TFaultFacts f = Convertible(code);
    f.throwInFlight = f.firstPending = true;
    EXPECT_FALSE(IsProcessorFault(code)) << std::hex << code;
    EXPECT_EQ(DecideFault(f), TFaultAction::kPass) << std::hex << code;
  }
}

TEST(FaultRules, StackOverflowIsThrownOnlyWithRoomToUnwind) {
  TFaultFacts f = Convertible(kStackOverflow);
  f.stackRoom = kMinStackRoomToConvert;
  EXPECT_EQ(DecideFault(f), TFaultAction::kConvert);
  f.stackRoom = kMinStackRoomToConvert - 1;
  EXPECT_EQ(DecideFault(f), TFaultAction::kReport) << "nothing else can deal with it on that stack";
  f = Convertible(kStackOverflow);
  f.unwindInfo = false;
  EXPECT_EQ(DecideFault(f), TFaultAction::kReport);
  f.owner = TCodeOwner::kOther;
  EXPECT_EQ(DecideFault(f), TFaultAction::kReport) << "not even system code survives it";
  f.libraryThread = true;
  EXPECT_EQ(DecideFault(f), TFaultAction::kLibraryFault);
}

TEST(FaultRules, NoSecondRound) {
  // While a converted fault is unwound, a fault in the program's code (a
  // destructor, the unwinder) or in no module reports the first.
  TFaultFacts f = Convertible();
  f.throwInFlight = f.firstPending = true;
  EXPECT_EQ(DecideFault(f), TFaultAction::kReportFirst);
  f.owner = TCodeOwner::kNone;
  EXPECT_EQ(DecideFault(f), TFaultAction::kReportFirst);
  // System code may still handle a fault of its own meanwhile.
  f.owner = TCodeOwner::kOther;
  EXPECT_EQ(DecideFault(f), TFaultAction::kPass);
  // A plain C++ throw in flight: this fault is the one to report.
  f = Convertible();
  f.throwInFlight = true;
  EXPECT_EQ(DecideFault(f), TFaultAction::kReport);
  // Inside the library's fault handler the record kept first is reported.
  f = Convertible();
  f.inHandler = true;
  EXPECT_EQ(DecideFault(f), TFaultAction::kReportFirst);
  f.libraryThread = true;
  EXPECT_EQ(DecideFault(f), TFaultAction::kLibraryFault);
  // A fault while a fault is being reported ends the process at once.
  f = Convertible();
  f.inRescue = true;
  f.throwInFlight = true;
  EXPECT_EQ(DecideFault(f), TFaultAction::kEnd);
  f.throwInFlight = false;
  EXPECT_EQ(DecideFault(f), TFaultAction::kConvert) << "a window procedure run while waiting may fault as usual";
}

TEST(FaultRules, UnhandledExceptionsByTheThreadsState) {
  TFaultFacts f;
  f.code = 0xE0001234;
  EXPECT_EQ(DecideUnhandled(f), TFaultAction::kReport);
  f.firstPending = true;
  EXPECT_EQ(DecideUnhandled(f), TFaultAction::kReportFirst);
  f.firstPending = false;
  f.inHandler = true;
  EXPECT_EQ(DecideUnhandled(f), TFaultAction::kReportFirst);
  f.libraryThread = true;
  EXPECT_EQ(DecideUnhandled(f), TFaultAction::kLibraryFault);
  f.inRescue = true;
  EXPECT_EQ(DecideUnhandled(f), TFaultAction::kEnd);
}

TEST(SystemCodes, OneClassAndReadableMessagePerCode) {
  struct {
    uint32_t code;
    const char* cls;
    const char* message;
  } const cases[] = {
      {0xC0000005, "EAccessViolation", "av text"},
      {0xC0000094, "EDivByZero", "Division by zero"},
      {0xC00000FD, "EStackOverflow", "Stack overflow"},
      {0xC000001D, "EIllegalInstruction", "Illegal instruction"},
      {0xC0000096, "EPrivilege", "Privileged instruction"},
      {0x80000003, "EBreakpoint", "Breakpoint"},
      {0xC0000017, "EOutOfMemory", "Out of memory"},
      {0xC0000374, "EExternalException", "Heap corruption"},
      {0xC0000417, "EExternalException", "Invalid C runtime parameter"},
      {0xE0001234, "EExternalException", "External exception e0001234"},
  };
  for (const auto& c : cases) {
    EXPECT_STREQ(SystemExceptionClassName(c.code), c.cls) << std::hex << c.code;
    EXPECT_EQ(SystemExceptionMessage(c.code, "av text"), c.message) << std::hex << c.code;
  }
}

TEST(SystemCodes, CrashExitCodes) {
  EXPECT_EQ(CrashExitCode(0xC0000005), 0xC0000005u);
  EXPECT_EQ(CrashExitCode(0), 3u) << "C++ exceptions and run-time errors end as the C runtime's abort";
}

}  // namespace
}  // namespace kestrix
