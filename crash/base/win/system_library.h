// Functions of system libraries the library needs only now and then (the
// save dialog, the desktop folder, the common controls): loaded from the
// system folder on first use, so that a program does not pay for loading
// them at start-up.
#pragma once

#include <windows.h>

namespace kestrix {

// The function, or null when the library or the function is missing.
FARPROC SystemFunction(const char* library, const char* name);

template <class F>
F SystemFunctionAs(const char* library, const char* name) {
  return reinterpret_cast<F>(reinterpret_cast<void*>(SystemFunction(library, name)));
}

}  // namespace kestrix
