#include "crash/startup/win/runtime_catch_points_win32.h"

#include "crash/threads/win/code_patch_win32.h"

#include <windows.h>

#include <csignal>
#include <cstring>
#include <string>

#include "crash/exception/win/fault_conversion_win32.h"
#include "crash/handling/win/handling_entry_win32.h"
#include "crash/startup/win/caller_chain_win32.h"
#include "crash/startup/win/foreign_exception_win32.h"
#include "crash/startup/win/startup_state_win32.h"
#include "crash/threads/win/library_threads.h"

// The runtime's own std::terminate and __cxa_pure_virtual (the library's
// link options wrap both).
extern "C" [[noreturn]] void __real__ZSt9terminatev();
extern "C" [[noreturn]] void __real___cxa_pure_virtual();

namespace kestrix {
namespace {

// Where this thread called std::terminate: written by the runtime's
// terminate wrapper, taken by the report of it.
struct TTerminateCall {
  uint32_t returnAddress = 0, frame = 0;
};
thread_local TTerminateCall t_terminate;

// --- reporting ---------------------------------------------------------------------

// Reports a run-time error whose chain starts at the program's call site.
// A thread of the library, or one busy with its handling, that meets one
// ends the process with the report being made saved.
void ReportRuntimeError(TExceptionObjectInfo& info, const TCapturedStack& stack, bool canContinue, uint8_t source) {
  const DWORD self = GetCurrentThreadId();
  if (ThreadInHandling() || (self != MainThreadId() && IsLibraryThread(self))) EndAfterLibraryError();
  THandlingRequest request;
  request.object = &info;
  request.address = stack.frames[0];
  request.source = source;
  request.canContinue = canContinue;
  request.preparedStack = &stack;
  HandleException(request);
}

void ReportRuntimeError(const std::string& message, const TCapturedStack& stack, bool canContinue,
                        uint8_t source = esUnhandled) {
  TExceptionObjectInfo info = DescribeException(std::make_exception_ptr(KxException(message)));
  ReportRuntimeError(info, stack, canContinue, source);
}

[[noreturn]] void EndAsRuntimeError() {
  TerminateProcess(GetCurrentProcess(), kRuntimeErrorExitCode);
  for (;;) Sleep(INFINITE);
}

// --- the catch points ---------------------------------------------------------------

// abort() called by the executable (its import of the C runtime's abort).
[[noreturn]] void __cdecl AbortHook() {
  const auto* frame = static_cast<const uint32_t*>(__builtin_frame_address(0));
  TCapturedStack stack;
  ChainFromCall(frame[1], reinterpret_cast<uint32_t>(frame + 1), frame[0], stack);
  ReportRuntimeError("Abnormal program termination: abort() was called", stack, false);
  EndAsRuntimeError();
}

// SIGABRT: abort() called by another module, or raise(SIGABRT).
void __cdecl OnAbortSignal(int) {
  const uint32_t ownFrame = reinterpret_cast<uint32_t>(__builtin_frame_address(0));
  TCapturedStack stack;
  bool reported = false;
  try {
    TExceptionObjectInfo info;
    if (FindForeignException(ownFrame, info, stack)) {
      ReportRuntimeError(info, stack, false, esUnhandled);
      reported = true;
    }
  } catch (...) {
  }
  if (!reported) {
    ChainFromRuntimeCall(ownFrame, stack);
    ReportRuntimeError("Abnormal program termination: abort() was called (SIGABRT)", stack, false);
  }
  EndAsRuntimeError();
}

void __cdecl OnInvalidParameter(const wchar_t* expression, const wchar_t* function, const wchar_t* file,
                                unsigned line, uintptr_t) {
  auto narrow = [](const wchar_t* w) {
    std::string s;
    for (; w && *w; ++w) s += *w < 128 ? static_cast<char>(*w) : '?';
    return s;
  };
  std::string message = "Invalid parameter passed to a C runtime function";
  if (function) message += " " + narrow(function);
  if (expression) message += ": " + narrow(expression);
  if (file) message += " (" + narrow(file) + ", line " + std::to_string(line) + ")";
  TCapturedStack stack;
  ChainFromRuntimeCall(reinterpret_cast<uint32_t>(__builtin_frame_address(0)), stack);
  // The C runtime lets the call fail with EINVAL; the settings decide
  // whether the program goes on.
  ReportRuntimeError(message, stack, true);
}

// --- patching ----------------------------------------------------------------------

// The invalid-parameter handler of a C runtime: through its own setter when
// it has one, else (the system's msvcrt) by making its _invalid_parameter,
// which every checking function calls, jump to the library.
void CatchInvalidParameters(const char* runtime, TRuntimeHandler& handler, void** patch) {
  HMODULE module = GetModuleHandleA(runtime);
  if (!module) return;
  if (auto set = reinterpret_cast<TSetInvalidParameterHandler>(
          reinterpret_cast<void*>(GetProcAddress(module, "_set_invalid_parameter_handler")))) {
    handler.set = set;
    handler.previous = set(OnInvalidParameter);
  } else if (patch) {
    void* at = reinterpret_cast<void*>(GetProcAddress(module, "_invalid_parameter"));
    if (at && PatchJump(at, reinterpret_cast<void*>(&OnInvalidParameter))) *patch = at;
  }
}

void ReleaseInvalidParameters(TRuntimeHandler& handler) {
  if (handler.set) handler.set(handler.previous);
  handler = TRuntimeHandler();
}

}  // namespace

void InstallRuntimeCatchPoints() {
  TStartupState& state = StartupState();
  if (state.runtimeInstalled) return;
  state.originalAbort =
      PatchModuleImport(GetModuleHandleA(nullptr), "abort", reinterpret_cast<void*>(&AbortHook));
  state.previousAbortSignal = std::signal(SIGABRT, OnAbortSignal);
  CatchInvalidParameters("msvcrt.dll", state.msvcrtHandler, &state.invalidParameterPatch);
  CatchInvalidParameters("ucrtbase.dll", state.ucrtHandler, nullptr);
  state.runtimeInstalled = true;
}

void RemoveRuntimeCatchPoints() {
  TStartupState& state = StartupState();
  if (!state.runtimeInstalled) return;
  state.runtimeInstalled = false;
  ReleaseInvalidParameters(state.ucrtHandler);
  ReleaseInvalidParameters(state.msvcrtHandler);
  if (state.invalidParameterPatch) UndoCodePatchAt(state.invalidParameterPatch);
  state.invalidParameterPatch = nullptr;
  std::signal(SIGABRT, state.previousAbortSignal == SIG_ERR ? SIG_DFL : state.previousAbortSignal);
  if (state.originalAbort)
    PatchModuleImports(GetModuleHandleA(nullptr), reinterpret_cast<void*>(&AbortHook), state.originalAbort);
  state.originalAbort = nullptr;
}

void ReportTerminateCall(uint8_t source, bool canContinue) {
  TCapturedStack stack;
  if (t_terminate.returnAddress) {
    ChainFromCall(t_terminate.returnAddress, 0, t_terminate.frame, stack);
    t_terminate.returnAddress = 0;
  } else {
    const auto* frame = static_cast<const uint32_t*>(__builtin_frame_address(0));
    ChainFromCall(frame[1], reinterpret_cast<uint32_t>(frame + 1), frame[0], stack);
  }
  ReportRuntimeError("Abnormal program termination: std::terminate() was called without an active exception", stack,
                     canContinue, source);
}

}  // namespace kestrix

// A direct call of std::terminate: its caller is kept for the report.
extern "C" [[noreturn]] void __wrap__ZSt9terminatev() {
  const auto* frame = static_cast<const uint32_t*>(__builtin_frame_address(0));
  kestrix::t_terminate.returnAddress = frame[1];
  kestrix::t_terminate.frame = frame[0];
  __real__ZSt9terminatev();
}

// The pure virtual function's place in a vtable.
extern "C" void __wrap___cxa_pure_virtual() {
  if (!kestrix::StartupState().runtimeInstalled) __real___cxa_pure_virtual();
  const auto* frame = static_cast<const uint32_t*>(__builtin_frame_address(0));
  kestrix::TCapturedStack stack;
  kestrix::ChainFromCall(frame[1], reinterpret_cast<uint32_t>(frame + 1), frame[0], stack);
  kestrix::ReportRuntimeError("Pure virtual function call", stack, false);
  kestrix::EndAsRuntimeError();
}
