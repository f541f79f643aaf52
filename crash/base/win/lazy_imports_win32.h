// System functions bound on their first call. The stubs made from
// lazy_imports.txt (cmake/KestrixLazyImports.cmake) take the place of the
// import libraries of user32, gdi32, advapi32, shell32, ole32 and ws2_32:
// a program that never shows a window, sends or reads the registry does not
// load those libraries at its start. A library that cannot be loaded when
// the function is first called (missing, or the loader lock held by another
// thread, as by a thread paused at the crash) leaves the call returning the
// function's failure value, so that the report goes on without it.
#pragma once

#include <windows.h>

namespace kestrix {

// One function's record, read by the stubs (the layout is theirs too).
struct TLazyImport {
  void** slot;          // the pointer calls go through; the real function once bound
  const char* library;  // "user32.dll"
  const char* name;     // "GetSystemMetrics"
  void* failure;        // returns the failure value and pops the arguments
  void* unbound;        // where the slot points until the function is bound
};

// How long a first call waits for a loader lock that another thread holds,
// once per holder: a holder that does not let go in this time is taken for
// stuck (paused at the crash), and later calls fail at once while it holds.
constexpr DWORD kLoaderLockWaitMs = 500;

// Another thread holds the process's loader lock now.
bool LoaderLockHeldElsewhere();

// The system library, loaded from the system folder unless it is loaded
// already; null when it cannot be (its last error says why).
HMODULE LoadSystemLibrary(const char* name);

// Import patching for the functions bound on first call (their slots are
// no import table): the bound slots holding `from` now hold `to`, and a
// function bound later to `from` is bound to `to`; undone by the call with
// the two exchanged. Returns how many bound slots changed.
size_t RedirectLazyImports(void* from, void* to);

}  // namespace kestrix

// Binds one function: the real function (its slot then points there), or
// the record's failure routine with the last error set.
extern "C" void* __cdecl kxLazyResolve(const kestrix::TLazyImport* import);
