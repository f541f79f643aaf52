#include "crash/base/win/system_library.h"

#include <string>

namespace kestrix {

FARPROC SystemFunction(const char* library, const char* name) {
  // Loaded once and kept: the module's reference is never given back.
  HMODULE module = GetModuleHandleA(library);
  if (!module) {
    char folder[MAX_PATH];
    const UINT n = GetSystemDirectoryA(folder, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return nullptr;
    const std::string path = std::string(folder, n) + "\\" + library;
    module = LoadLibraryA(path.c_str());
  }
  return module ? GetProcAddress(module, name) : nullptr;
}

}  // namespace kestrix
