// The handling flow's entry: HandleException, which every catch point
// calls, the handling thread behind its pipe, and the ends of a fault in
// the library's own threads.
#pragma once

#include <windows.h>

#include <cstdint>
#include <exception>
#include <string>
#include <typeinfo>

#include "crash/exception/exception_filters.h"
#include "crash/exception/win/fault_conversion_win32.h"
#include "crash/report/win/kx_exception_object.h"

namespace kestrix {

// What a catch point hands to HandleException. object may be null (a
// freeze, or an exception without an object); context may be null; a
// missing stack or frame pointer is taken at the call.
struct THandlingRequest {
  uint8_t type = etException;
  const TExceptionObjectInfo* object = nullptr;
  uint32_t address = 0;
  std::string* reportVar = nullptr;  // receives the report text
  HMODULE package = nullptr;
  const void* related = nullptr;
  uint8_t source = 0;
  const CONTEXT* context = nullptr;
  uint32_t framePointer = 0, stackPointer = 0;
  bool canContinue = true;
  const TCapturedStack* preparedStack = nullptr;
};

// The single entry of every catch point; returns when the exception has
// been handled.
void HandleException(THandlingRequest request);

// A C++ exception caught by a catch point: described, its raise record or
// fault context found, and handed to HandleException.
void HandleCppException(std::exception_ptr error, uint8_t source, bool canContinue, const void* related = nullptr);

// An operating-system exception without a C++ object (a fault that could
// not be unwound, or one nothing else handled): reported as the EExternal of
// its code, with the class and message the same code has wherever it is
// caught (source 14, cannot continue). Called in the faulting thread.
void MapSystemException(const TFaultBlock& fault);

// A fault in one of the library's own threads while an exception is
// handled: the report as far as it is made is saved and the process ends
// with the handled exception's exit code (never a second round).
[[noreturn]] void EndAfterLibraryFault(const TFaultBlock& fault);
// The same for a run-time error (abort, terminate, pure virtual call) in a
// thread of the library.
[[noreturn]] void EndAfterLibraryError();

// The raise hook: a raised exception with a message reaches the hidden-
// exception handlers (type 2, source 15) when any are registered.
void HandleRaisedException(const void* object, const std::type_info* type, const TCapturedStack& stack);

// The handling thread, started and stopped by the composition root.
bool StartHandlingThread();
void StopHandlingThread();

// Called by the report when it becomes complete.
void ReportCompleted(TIKXException* exception);

// A console program: the exception is written to standard output. CGI
// mode: as an HTML page.
void SetConsoleMode(bool value);
bool ConsoleMode();
void SetCgiMode(bool value);
bool CgiMode();

// The freeze watchdog's controls: paused around every handling (nesting
// counted by the watchdog) and its counter reset after one. Unset until a
// watchdog runs.
struct TFreezeWatchControl {
  void (*pause)(bool pause) = nullptr;
  void (*resetCounter)() = nullptr;
};
void SetFreezeWatchControl(const TFreezeWatchControl& control);

// Sending a report (the delivery's DispatchBugReport), set at start-up:
// report text, exception, slot for the sending thread, background, hidden;
// returns 0 failed, 1 sent (or handed to the sending thread), 2 cancelled.
using TSendReportHook = int (*)(const std::string& report, TIKXException* exception, HANDLE* threadSlot,
                                bool background, bool hidden);
void SetSendReportHook(TSendReportHook hook);

}  // namespace kestrix
