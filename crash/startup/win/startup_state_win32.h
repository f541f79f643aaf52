// The start-up's state, shared by its Windows files: whether the library
// runs, the exit and terminate hooks, the start-up's timing and the
// run-time catch points.
#pragma once

#include <windows.h>

#include <csignal>
#include <cstdint>
#include <exception>

namespace kestrix {

using TInvalidParameterHandler = void(__cdecl*)(const wchar_t*, const wchar_t*, const wchar_t*, unsigned, uintptr_t);
using TSetInvalidParameterHandler = TInvalidParameterHandler(__cdecl*)(TInvalidParameterHandler);
using TSignalHandler = void(__cdecl*)(int);

// One C runtime's invalid-parameter handler setter and the handler the
// library replaced.
struct TRuntimeHandler {
  TSetInvalidParameterHandler set = nullptr;
  TInvalidParameterHandler previous = nullptr;
};

// Constant-initialized and never destroyed: the start-up runs in a static
// initializer of high priority, before any constructor, and the hooks stay
// in force while the program's static destructors run.
struct TStartupState {
  // Set by the start-up once the catch points are in place, cleared by the
  // shutdown.
  bool active = false;
  // The start-up's own duration: written by KestrixStartup.
  LARGE_INTEGER startupBegin{}, startupEnd{};
  // Set by the exit hook when the program calls exit: later errors are
  // errors at exit.
  volatile bool exiting = false;
  // The executable's exit while its import points at the exit hook, and the
  // terminate handler the start-up replaced: written by the start-up, read
  // by the hooks and the shutdown.
  void(__cdecl* originalExit)(int) = nullptr;
  std::terminate_handler previousTerminate = nullptr;

  // The run-time catch points, written by their installation and removal.
  volatile bool runtimeInstalled = false;
  void* originalAbort = nullptr;  // the executable's import, while patched
  TSignalHandler previousAbortSignal = SIG_DFL;
  void* invalidParameterPatch = nullptr;  // the patched _invalid_parameter
  TRuntimeHandler msvcrtHandler, ucrtHandler;
};
TStartupState& StartupState();

}  // namespace kestrix
