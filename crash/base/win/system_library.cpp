#include "crash/base/win/system_library.h"

#include "crash/base/win/lazy_imports_win32.h"

namespace kestrix {

FARPROC SystemFunction(const char* library, const char* name) {
  HMODULE module = LoadSystemLibrary(library);
  return module ? GetProcAddress(module, name) : nullptr;
}

}  // namespace kestrix
