#include "crash/exception/win/fault_rescue_win32.h"

#include <float.h>
#include <intrin.h>

#include <cstring>

#include "crash/exception/win/thread_fault_state_win32.h"

// libgcc's stack probe (___chkstk_ms): saves ecx and eax, touches each page
// of the new frame ("orl $0, (%ecx)"), restores them and returns.
extern "C" void __chkstk_ms();

namespace kestrix {
namespace {

TFaultSinks g_sinks;

bool InImage(uint32_t address) {
  MEMORY_BASIC_INFORMATION info;
  return address >= 0x10000 && VirtualQuery(reinterpret_cast<void*>(address), &info, sizeof info) &&
         info.State == MEM_COMMIT && info.Type == MEM_IMAGE;
}

[[noreturn]] void EndNow(const TFaultBlock& block) {
  TerminateProcess(GetCurrentProcess(), CrashExitCode(block.record.ExceptionCode));
  for (;;) Sleep(INFINITE);
}

[[noreturn]] void RunRescue(TFaultBlock& block) {
  fault_state::Write((fault_state::Read() & fault_state::kGuardSpent) | fault_state::kInRescue);
  const auto action = static_cast<TFaultAction>(block.action);
  if (action == TFaultAction::kLibraryFault) {
    if (g_sinks.libraryFault) g_sinks.libraryFault(block);
  } else if (g_sinks.report) {
    g_sinks.report(block);
  }
  EndNow(block);
}

// Where a rescued thread goes on: its exception registrations end with the
// outermost one, the frames below it are gone.
[[noreturn]] __attribute__((force_align_arg_pointer)) void __cdecl RescueEntry(TFaultBlock* block) {
  __writefsdword(0, block->outermostSeh);
  _fpreset();
  RunRescue(*block);
}

// The outermost exception registration of the thread (the system's own, at
// the thread's start), or 0 when the chain leaves the stack.
uint32_t OutermostRegistration(const fault_state::TStackBounds& bounds) {
  uint32_t record = __readfsdword(0), outermost = 0;
  for (int n = 0; n < 4096 && record != 0xFFFFFFFF; ++n) {
    if (record < bounds.end || record + 8 > bounds.top || (record & 3)) return 0;
    outermost = record;
    const uint32_t next = *reinterpret_cast<const uint32_t*>(record);
    if (next != 0xFFFFFFFF && next <= record) return 0;
    record = next;
  }
  return outermost;
}

}  // namespace

TFaultSinks& FaultSinks() { return g_sinks; }
void SetFaultSinks(const TFaultSinks& sinks) { g_sinks = sinks; }

bool StepOutOfStackProbe(const CONTEXT& c, CONTEXT& after) {
  const uint32_t probe = reinterpret_cast<uint32_t>(&__chkstk_ms);
  if (c.Eip < probe || c.Eip >= probe + 48) return false;
  const auto* code = reinterpret_cast<const uint8_t*>(c.Eip);
  if (code[0] != 0x83 || code[1] != 0x09 || code[2] != 0x00) return false;
  const fault_state::TStackBounds bounds = fault_state::StackBounds();
  if (c.Esp < bounds.end || c.Esp + 12 > bounds.top) return false;
  const auto* sp = reinterpret_cast<const uint32_t*>(c.Esp);
  after = c;
  after.Eax = sp[0];
  after.Ecx = sp[1];
  after.Eip = sp[2];
  after.Esp = c.Esp + 12;
  return true;
}

void KeepFault(TFaultBlock& block, const EXCEPTION_RECORD& record, const CONTEXT& context) {
  block.record = record;
  block.record.ExceptionRecord = nullptr;
  block.context = context;
  ResetCapturedStack(block.stack);
}

void CaptureFaultStack(TFaultBlock& block) {
  const CONTEXT& c = block.context;
  TCapturedStack& s = block.stack;
  CONTEXT after;
  if (StepOutOfStackProbe(c, after)) {
    // The probe's caller and on, below the probe's own address.
    CaptureStack(after.Eip, after.Esp, after.Ebp, s, false);
    const int kept = s.frameCount < TCapturedStack::kMaxFrames ? s.frameCount : TCapturedStack::kMaxFrames - 1;
    for (int i = kept; i > 0; --i) s.frames[i] = s.frames[i - 1];
    s.frames[0] = c.Eip;
    s.frameCount = kept + 1;
    // The stack bytes at the probe's own stack pointer.
    const uint32_t top = fault_state::StackBounds().top;
    const uint32_t n = top - c.Esp < sizeof s.bytes ? top - c.Esp : sizeof s.bytes;
    std::memcpy(s.bytes, reinterpret_cast<const void*>(c.Esp), n);
    s.byteCount = static_cast<int>(n);
    s.eip = c.Eip;
    s.esp = c.Esp;
    s.ebp = c.Ebp;
    return;
  }
  CaptureStack(c.Eip, c.Esp, c.Ebp, s, true);
  // A call to nowhere: the caller's return address is at the stack pointer.
  const fault_state::TStackBounds bounds = fault_state::StackBounds();
  if (!InImage(c.Eip) && c.Esp >= bounds.end && c.Esp + 4 <= bounds.top && s.frameCount < TCapturedStack::kMaxFrames) {
    const uint32_t ret = *reinterpret_cast<const uint32_t*>(c.Esp);
    if (InImage(ret)) {
      for (int i = s.frameCount; i > 1; --i) s.frames[i] = s.frames[i - 1];
      s.frames[1] = ret;
      ++s.frameCount;
    }
  }
}

LONG RescueFault(CONTEXT& context, TFaultBlock& block, TFaultAction action, bool canResume) {
  if (action == TFaultAction::kEnd) EndNow(block);
  if (action != TFaultAction::kReportFirst || block.stack.frameCount == 0) CaptureFaultStack(block);
  block.action = static_cast<uint8_t>(action);
  const fault_state::TStackBounds bounds = fault_state::StackBounds();
  const uint32_t outermost = OutermostRegistration(bounds);
  block.outermostSeh = outermost ? outermost : 0xFFFFFFFF;
  // The fresh stack starts below the outermost registration (or near the
  // stack's top), far above the fault's frames.
  uint32_t esp = ((outermost ? outermost : bounds.top) - 256) & ~15u;
  if (!canResume || esp < context.Esp + 4096) RunRescue(block);
  auto* sp = reinterpret_cast<uint32_t*>(esp);
  *--sp = reinterpret_cast<uint32_t>(&block);
  *--sp = 0;  // RescueEntry never returns
  context.Esp = reinterpret_cast<uint32_t>(sp);
  context.Ebp = 0;
  context.Eip = reinterpret_cast<uint32_t>(&RescueEntry);
  context.EFlags &= ~0x400u;  // direction flag clear, as functions expect
  fault_state::Write((fault_state::Read() & fault_state::kGuardSpent) | fault_state::kInRescue);
  return EXCEPTION_CONTINUE_EXECUTION;
}

LONG HandleUnhandledFault(EXCEPTION_POINTERS* info) {
  const uint32_t state = fault_state::Read();
  TFaultFacts f;
  f.code = info->ExceptionRecord->ExceptionCode;
  f.inHandler = state & fault_state::kInHandler;
  f.inRescue = state & fault_state::kInRescue;
  f.throwInFlight = (state & fault_state::kDepthMask) || (state & fault_state::kConverting);
  f.firstPending = state & fault_state::kFirstPending;
  f.libraryThread = (state & fault_state::kHandlingMask) ||
                    (g_sinks.isLibraryThread && g_sinks.isLibraryThread(GetCurrentThreadId()));
  TFaultBlock* block = fault_state::Block();
  if (!block) return EXCEPTION_CONTINUE_SEARCH;
  const TFaultAction action = DecideUnhandled(f);
  // The block already holds the thread's first fault when one is pending.
  if (!f.firstPending && !f.inHandler && !f.inRescue) KeepFault(*block, *info->ExceptionRecord, *info->ContextRecord);
  const bool canResume = !(info->ExceptionRecord->ExceptionFlags & EXCEPTION_NONCONTINUABLE);
  return RescueFault(*info->ContextRecord, *block, action, canResume);
}

}  // namespace kestrix
