// Processor faults as C++ exceptions: a vectored handler turns a fault in
// code that the program's unwinder knows into an EExternal thrown at the
// faulting instruction (the code is built with -fnon-call-exceptions, so
// destructors run and handlers catch it). A fault that cannot be unwound is
// reported from a fresh stack instead and the process ends (fault_policy.h
// has the rules). Every C++ throw also leaves a raise record with the throw
// site's call chain in thread-local storage.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "crash/exception/system_exceptions.h"
#include "kestrix/exceptions.h"

namespace kestrix {

// The call chain and stack bytes taken where an exception was raised, while
// the stack was still intact.
struct TCapturedStack {
  static constexpr int kMaxFrames = 64;
  static constexpr int kMaxBytes = 320;
  static constexpr int kMaxWords = 4096;
  uint32_t eip = 0, esp = 0, ebp = 0;
  uint32_t stackTop = 0;  // the thread's stack base; 0 unknown
  uint32_t frames[kMaxFrames] = {};  // code addresses, top first
  int frameCount = 0;
  uint8_t bytes[kMaxBytes] = {};  // from esp on, up to the end of its region
  int byteCount = 0;
  bool complete = false;  // the chain ended at the stack's base or a null frame
  // The raw stack from esp on (at most kMaxWords), so that the stack tracer
  // sees the frames that unwinding overwrites; 0 words: not copied.
  uint32_t words[kMaxWords] = {};
  int wordCount = 0;
};

// Clears a capture in place (no temporary of its size on the stack).
inline void ResetCapturedStack(TCapturedStack& s) { std::memset(static_cast<void*>(&s), 0, sizeof s); }

// The address of the call instruction that returns to `returnAddress` (the
// usual encodings: call rel32, call [mem], call reg); 0 when none of them
// ends there.
uint32_t CallInstructionBefore(uint32_t returnAddress);

// Walks the frame-pointer chain from (eip, ebp) within the current thread's
// stack, copies the stack words at esp, and with withBytes the stack bytes
// for the stack dump.
void CaptureStack(uint32_t eip, uint32_t esp, uint32_t ebp, TCapturedStack& out, bool withBytes);

// An operating-system exception turned into a C++ exception.
class EExternal : public KxException {
 public:
  EExternal(const EXCEPTION_RECORD& record, const CONTEXT& context, const TCapturedStack& stack);
  std::string ClassName() const override;
  const EXCEPTION_RECORD& Record() const { return record_; }
  const CONTEXT& Context() const { return context_; }
  const TCapturedStack& Stack() const { return stack_; }

 private:
  EXCEPTION_RECORD record_;
  CONTEXT context_;
  TCapturedStack stack_;
};

// The access-violation text for a record (module and address when the code
// address lies in a module with a file name).
std::string FormatAccessViolation(const EXCEPTION_RECORD& record);
// The message of any operating-system exception.
std::string SystemExceptionText(const EXCEPTION_RECORD& record);

void InstallFaultConversion();
void RemoveFaultConversion();
// Faults in code of this module are converted (the executable always is)
// when the program's unwinder knows the code.
void AddFaultConvertingModule(HMODULE module);

// A fault that cannot be unwound, as kept by the thread that had it.
struct TFaultBlock {
  EXCEPTION_RECORD record;
  CONTEXT context;
  TCapturedStack stack;  // from the faulting instruction on
  uint8_t action;        // TFaultAction
  uint32_t outermostSeh;  // the thread's outermost exception registration
};

// Where faults that cannot be unwound go. Both run in the faulting thread,
// on a fresh stack, and need not return; when they do, the process ends
// with the fault's exit code.
struct TFaultSinks {
  // Reports the fault from the handling thread; the process ends.
  void (*report)(const TFaultBlock& fault) = nullptr;
  // A fault in a thread of the library: the report being made is saved,
  // the process ends.
  void (*libraryFault)(const TFaultBlock& fault) = nullptr;
  bool (*isLibraryThread)(DWORD threadId) = nullptr;
};
void SetFaultSinks(const TFaultSinks& sinks);

// The unhandled-exception filter's part: every exception that reaches it is
// reported as a fault that cannot be unwound (or as the thread's first
// fault, or as a fault of the library's own threads).
LONG HandleUnhandledFault(EXCEPTION_POINTERS* info);

// The filter is set again whenever an exception passes the vectored
// handler, so that a filter set later by other code does not hide crashes.
void KeepUnhandledFilter(LPTOP_LEVEL_EXCEPTION_FILTER filter);

// Bytes of stack left below the caller's frame.
uint32_t StackRoom();

// Marks the calling thread as busy with the library's handling of an
// exception while it lives (a catch point waiting for the report, the main
// thread running handlers): a fault that cannot be unwound meanwhile saves
// that report and ends the process instead of starting a second round.
class TThreadHandlingMark {
 public:
  TThreadHandlingMark();
  ~TThreadHandlingMark();
  TThreadHandlingMark(const TThreadHandlingMark&) = delete;
  TThreadHandlingMark& operator=(const TThreadHandlingMark&) = delete;
};
bool ThreadInHandling();
// How many handlings the calling thread is inside (marks nested).
int ThreadHandlingDepth();

// The thread's last C++ throw: object, type, throw site and call chain.
struct TRaiseRecord {
  const void* object = nullptr;
  const std::type_info* type = nullptr;
  TCapturedStack stack;
};
// The current thread's raise record for that object (or, when object is
// null, for that type); nullptr when none matches.
const TRaiseRecord* FindRaiseRecord(const void* object, const std::type_info* type);
void ClearRaiseRecord();

// Called for every C++ throw with the thrown object, its type and the throw
// site's chain (hidden exceptions); must not throw.
using TRaiseHook = void (*)(const void* object, const std::type_info* type, const TCapturedStack& stack);
void SetRaiseHook(TRaiseHook hook);

// Called for a thread-naming request seen by the vectored handler.
using TThreadNameSink = void (*)(DWORD threadId, const char* name);
void SetThreadNameSink(TThreadNameSink sink);

}  // namespace kestrix
