#include "crash/exception/fault_policy.h"

namespace kestrix {
namespace {

constexpr uint32_t kStackOverflow = 0xC00000FD;

// Report, as it applies to the thread's state.
TFaultAction Reported(const TFaultFacts& f) {
  if (f.inRescue) return TFaultAction::kEnd;
  if (f.libraryThread) return TFaultAction::kLibraryFault;
  return f.firstPending ? TFaultAction::kReportFirst : TFaultAction::kReport;
}

}  // namespace

bool IsProcessorFault(uint32_t code) {
  switch (code) {
    case 0xC0000005:  // access violation
    case 0xC0000006:  // in-page error
    case 0x80000002:  // datatype misalignment
    case 0x80000003:  // breakpoint
    case 0xC000008C:  // array bounds exceeded
    case 0xC000008D:  // floating point: denormal operand
    case 0xC000008E:  //   division by zero
    case 0xC000008F:  //   inexact result
    case 0xC0000090:  //   invalid operation
    case 0xC0000091:  //   overflow
    case 0xC0000092:  //   stack check
    case 0xC0000093:  //   underflow
    case 0xC0000094:  // integer division by zero
    case 0xC0000095:  // integer overflow
    case 0xC0000096:  // privileged instruction
    case 0xC000001D:  // illegal instruction
    case kStackOverflow:
      return true;
    default:
      return false;
  }
}

TFaultAction DecideFault(const TFaultFacts& f) {
  if (!IsProcessorFault(f.code)) return TFaultAction::kPass;
  // A fault inside the handler itself: the handler's record of the first is
  // what gets reported.
  if (f.inHandler) {
    TFaultFacts first = f;
    first.firstPending = true;
    return Reported(first);
  }
  // While a throw is unwound, a fault in the program's code (a destructor,
  // the unwinder) or in no module must not be thrown on again; system code
  // may still handle its own faults.
  if (f.throwInFlight && f.owner != TCodeOwner::kOther) return Reported(f);
  const bool unwindable = f.owner == TCodeOwner::kProgram && f.unwindInfo && f.stackUsable && !f.noncontinuable;
  if (f.code == kStackOverflow) {
    // Nothing else can deal with it on the remaining stack.
    return unwindable && f.stackRoom >= kMinStackRoomToConvert ? TFaultAction::kConvert : Reported(f);
  }
  if (unwindable) return TFaultAction::kConvert;
  // A call to nowhere: no frame could handle it, and the system's handlers
  // around callbacks would swallow it.
  if (f.owner == TCodeOwner::kNone) return Reported(f);
  return TFaultAction::kPass;
}

TFaultAction DecideUnhandled(const TFaultFacts& f) {
  TFaultFacts first = f;
  first.firstPending = f.firstPending || f.inHandler;
  return Reported(first);
}

}  // namespace kestrix
