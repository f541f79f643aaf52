// Faults that cannot be unwound: the faulting thread is sent on with a fresh
// stack (above its dead frames) into the library's report of the fault, so
// that even a thread whose stack is used up reports from healthy ground.
#pragma once

#include <windows.h>

#include "crash/exception/fault_policy.h"
#include "crash/exception/win/fault_conversion_win32.h"

namespace kestrix {

// The stack probe that functions with a large frame call before taking it
// has no unwind information; a fault in its probe instruction is taken as a
// fault at the return address in its caller, whose frame is set up by then.
// True and the context as it would be after the probe returned, when the
// context's instruction is that probe.
bool StepOutOfStackProbe(const CONTEXT& context, CONTEXT& after);

// Copies the fault's record and context into the block.
void KeepFault(TFaultBlock& block, const EXCEPTION_RECORD& record, const CONTEXT& context);

// Takes the block's call chain from its context: the faulting instruction,
// the return address at the stack pointer when the instruction lies in no
// module (a call to nowhere), then the frame chain.
void CaptureFaultStack(TFaultBlock& block);

// Sends the thread on to the report of the block's fault (kReport,
// kReportFirst, kLibraryFault) by changing the context; the thread leaves
// every frame below its outermost exception registration behind. kEnd ends
// the process at once. Returns what the handler returns to the system.
LONG RescueFault(CONTEXT& context, TFaultBlock& block, TFaultAction action, bool canResume);

TFaultSinks& FaultSinks();

}  // namespace kestrix
