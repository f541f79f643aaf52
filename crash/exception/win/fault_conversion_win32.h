// Processor faults as C++ exceptions: a vectored handler turns a fault in
// code of the program's own module into an EExternal thrown at the faulting
// instruction (the code is built with -fnon-call-exceptions, so destructors
// run and handlers catch it). Every C++ throw also leaves a raise record
// with the throw site's call chain in thread-local storage.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "kestrix/exceptions.h"

namespace kestrix {

// The call chain and stack bytes taken where an exception was raised, while
// the stack was still intact.
struct TCapturedStack {
  static constexpr int kMaxFrames = 64;
  static constexpr int kMaxBytes = 320;
  uint32_t eip = 0, esp = 0, ebp = 0;
  uint32_t frames[kMaxFrames] = {};  // code addresses, top first
  int frameCount = 0;
  uint8_t bytes[kMaxBytes] = {};  // from esp on, up to the end of its region
  int byteCount = 0;
  bool complete = false;  // the chain ended at the stack's base or a null frame
};

// Walks the frame-pointer chain from (eip, ebp) within the current thread's
// stack, and copies the stack bytes at esp.
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

// Class name of the C++ exception an exception code becomes
// ("EAccessViolation", "EDivByZero", ... "EExternalException").
const char* SystemExceptionClassName(uint32_t code);

// The access-violation text for a record (module and address when the code
// address lies in a module with a file name).
std::string FormatAccessViolation(const EXCEPTION_RECORD& record);
// The message of any operating-system exception.
std::string SystemExceptionText(const EXCEPTION_RECORD& record);

void InstallFaultConversion();
void RemoveFaultConversion();
// Faults in code of this module are converted (the executable always is).
void AddFaultConvertingModule(HMODULE module);

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
