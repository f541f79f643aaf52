// HandleException and the catch points' ways into it: C++ exceptions,
// system exceptions, raised exceptions for the hidden handlers, and the
// end after a fault of the library's own threads.
#include "crash/handling/win/handling_entry_win32.h"

#include <float.h>

#include "crash/base/win/scoped_handle.h"
#include "crash/handling/win/emergency_reserve_win32.h"
#include "crash/handling/win/ending_win32.h"
#include "crash/handling/win/handling_state_win32.h"
#include "crash/report/win/save_bug_report.h"
#include "crash/threads/win/heap_probe_win32.h"
#include "crash/threads/win/library_threads.h"
#include "crash/threads/win/thread_table_win32.h"

namespace kestrix {
namespace {

void PauseFreezeWatch(bool pause) {
  if (auto control = HandlingState().freezeWatch.pause) control(pause);
}

// The pipe record of a request, made in the calling thread.
TExceptionRequest PipeRecord(const THandlingRequest& q) {
  TExceptionRequest r{};
  r.threadId = GetCurrentThreadId();
  r.type = q.type;
  r.object = reinterpret_cast<uint32_t>(q.object);
  r.address = q.address;
  r.canContinue = q.canContinue ? 1 : 0;
  r.stackPointer = q.stackPointer;
  r.framePointer = q.framePointer;
  r.context = reinterpret_cast<uint32_t>(q.context);
  r.reportVar = reinterpret_cast<uint32_t>(q.reportVar);
  r.source = q.source;
  r.related = reinterpret_cast<uint32_t>(q.related);
  r.package = reinterpret_cast<uint32_t>(q.package);
  r.preparedStack = reinterpret_cast<uint32_t>(q.preparedStack);
  return r;
}

// Hands the request to the handling thread and waits for it, or handles it
// in this thread when the handling thread could not get at it.
void HandOver(TExceptionRequest& r) {
  // With the loader lock or a heap held (by this thread, a fault inside
  // the loader or the allocator), the handling thread would wait for ever
  // on it: this thread, which may take them again, handles the exception.
  // A heap left locked stops every other thread that allocates, so the
  // program cannot go on after it.
  const bool blocked = IsProcessBlocked(250);
  const bool heapHeld = !blocked && IsHeapHeld(2000);
  if (heapHeld) r.canContinue = 0;
  TScopedHandle event;
  if (!blocked && !heapHeld && HandlingState().pipeWrite) event.Reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  if (!event) {
    ProcessException(r);
    return;
  }
  r.event = reinterpret_cast<uint32_t>(event.Get());
  if (SendRequest(r)) WaitForHandling(event.Get());
}

DWORD WINAPI EndAfterDeadline(void* exitCode) {
  Sleep(10000);
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(reinterpret_cast<uintptr_t>(exitCode)));
  return 0;
}

// Saving after a fault of the library's threads may wait for a lock the
// failed thread held: the process ends with `code` ten seconds on at the
// latest.
void StartEndDeadline(uint32_t code) {
  DWORD id = 0;
  const TScopedHandle deadline(CreateThread(nullptr, 64 * 1024, EndAfterDeadline,
                                            reinterpret_cast<void*>(static_cast<uintptr_t>(code)),
                                            STACK_SIZE_PARAM_IS_A_RESERVATION | CREATE_SUSPENDED, &id));
  if (!deadline) return;
  RegisterLibraryThread(id, "-");
  ResumeThread(deadline.Get());
}

// Reports a fault of the library's threads itself, right here, when no
// handling is going on.
void ReportLibraryFault(const TFaultBlock& fault) {
  TExceptionObjectInfo info =
      DescribeException(std::make_exception_ptr(EExternal(fault.record, fault.context, fault.stack)));
  info.systemCode = fault.record.ExceptionCode;
  TExceptionRequest r{};
  r.threadId = GetCurrentThreadId();
  r.type = etException;
  r.object = reinterpret_cast<uint32_t>(&info);
  r.address = reinterpret_cast<uint32_t>(fault.record.ExceptionAddress);
  r.stackPointer = fault.context.Esp;
  r.framePointer = fault.context.Ebp;
  r.context = reinterpret_cast<uint32_t>(&fault.context);
  r.source = esSystem;
  r.preparedStack = reinterpret_cast<uint32_t>(&fault.stack);
  ProcessException(r);
}

// Saves the report being made (or reports the fault when none is) and ends
// the process: a thread of the library failed.
[[noreturn]] void SaveHandledReportAndEnd(const TFaultBlock* fault) {
  TIKXException* e = HandlingState().current.load();
  const uint32_t code = e ? ExitCodeOf(e) : CrashExitCode(fault ? fault->record.ExceptionCode : 0);
  StartEndDeadline(code);
  try {
    if (e) {
      e->MarkUnfinishedSections(">> not computed: the library's thread failed at it");
      if (!e->Saved()) SaveBugReport(e, nullptr, std::string(), true);
    } else if (fault) {
      ReportLibraryFault(*fault);
    }
  } catch (...) {
  }
  EndProgram(code);
}

// The description of a raised object for the hidden handlers.
TExceptionObjectInfo DescribeRaised(const void* object, const std::type_info* type) {
  TExceptionObjectInfo info;
  info.address = object;
  info.type = type;
  info.ancestry = TypeAncestry(*type);
  void* p = const_cast<void*>(object);
  if (typeid(std::exception).__do_catch(type, &p, 1)) {
    auto* e = static_cast<const std::exception*>(p);
    info.message = e->what();
    if (auto* kx = dynamic_cast<const KxException*>(e)) {
      info.isKxException = true;
      info.isAbort = dynamic_cast<const EAbort*>(kx) != nullptr;
      const std::string own = kx->ClassName();
      if (!own.empty() && (info.ancestry.empty() || info.ancestry.front() != own))
        info.ancestry.insert(info.ancestry.begin(), own);
    }
  }
  if (!info.ancestry.empty()) info.className = info.ancestry.front();
  return info;
}

}  // namespace

void HandleException(THandlingRequest q) {
  const DWORD self = GetCurrentThreadId();
  if (self == HandlingThreadId()) return;
  if (IsLibraryThread(self) && self != MainThreadId()) return;
  if (self == MainThreadId() && MainThreadRunsHandlers()) return;
  const TThreadHandlingMark handling;
  ReleaseEmergencyMemory();
  // Normalise: a missing address comes from the thread's raise record.
  if (q.object && !q.address) {
    if (const TRaiseRecord* raise = FindRaiseRecord(q.object->address, q.object->type)) {
      q.address = raise->stack.frames[0];
      if (!q.preparedStack) q.preparedStack = &raise->stack;
    }
  }
  if (q.object && q.object->isAbort) {
    ClearRaiseRecord();
    if (!q.canContinue) EndProgram(kRuntimeErrorExitCode);
    ReserveEmergencyMemory();
    return;
  }
  if (q.context && q.address >= q.context->Eip && q.address - q.context->Eip <= 4) {
    q.stackPointer = q.context->Esp;
    q.framePointer = q.context->Ebp;
  } else if (!q.stackPointer || !q.framePointer) {
    auto* frame = static_cast<uint32_t*>(__builtin_frame_address(0));
    if (!q.framePointer) q.framePointer = frame[0];
    if (!q.stackPointer) q.stackPointer = reinterpret_cast<uint32_t>(frame + 2);
  }
  TExceptionRequest r = PipeRecord(q);
  PauseFreezeWatch(true);
  try {
    HandOver(r);
  } catch (...) {
    // A failure before or around the handing over: no report was made to
    // record it in; the faulting thread goes on as after a handling.
  }
  PauseFreezeWatch(false);
  ClearRaiseRecord();
  _fpreset();
  ReserveEmergencyMemory();
}

void HandleCppException(std::exception_ptr error, uint8_t source, bool canContinue, const void* related) {
  try {
    TExceptionObjectInfo info = DescribeException(error);
    THandlingRequest q;
    q.object = &info;
    q.related = related;
    q.source = source;
    q.canContinue = canContinue;
    if (info.isKxException) try {
        std::rethrow_exception(error);
      } catch (const EExternal& fault) {
        q.context = &fault.Context();
        q.preparedStack = &fault.Stack();
        q.address = reinterpret_cast<uint32_t>(fault.Record().ExceptionAddress);
        info.systemCode = fault.Record().ExceptionCode;
      } catch (...) {
        // Not a converted fault: no context to take (not a failure).
      }
    HandleException(q);
  } catch (...) {
    // Describing or handing over failed: there is no report to record it
    // in, and a catch point must not raise.
  }
}

void MapSystemException(const TFaultBlock& fault) {
  try {
    HandleCppException(std::make_exception_ptr(EExternal(fault.record, fault.context, fault.stack)), esSystem, false);
  } catch (...) {
    // As in HandleCppException: no report to record it in.
  }
}

void EndAfterLibraryFault(const TFaultBlock& fault) { SaveHandledReportAndEnd(&fault); }
void EndAfterLibraryError() { SaveHandledReportAndEnd(nullptr); }

void HandleRaisedException(const void* object, const std::type_info* type, const TCapturedStack& stack) {
  static thread_local bool inside = false;
  const DWORD self = GetCurrentThreadId();
  if (inside || !object || !type || self == HandlingThreadId() || IsLibraryThread(self) || !HiddenHandlersExist())
    return;
  inside = true;
  try {
    const TExceptionObjectInfo info = DescribeRaised(object, type);
    if (!info.message.empty() && !info.isAbort) {
      THandlingRequest q;
      q.type = etHidden;
      q.object = &info;
      q.address = stack.frames[0];
      q.source = esHidden;
      q.preparedStack = &stack;
      HandleException(q);
    }
  } catch (...) {
    // A raise must go on whatever happens here; a hidden exception has no
    // report yet to record this in.
  }
  inside = false;
}

void SetFreezeWatchControl(const TFreezeWatchControl& control) { HandlingState().freezeWatch = control; }
void SetConsoleMode(bool value) { HandlingState().consoleMode = value; }
bool ConsoleMode() { return HandlingState().consoleMode; }
void SetCgiMode(bool value) { HandlingState().cgiMode = value; }
bool CgiMode() { return HandlingState().cgiMode; }
void SetSendReportHook(TSendReportHook hook) { HandlingState().sendReport = hook; }

}  // namespace kestrix
