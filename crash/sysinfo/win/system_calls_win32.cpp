#include "crash/sysinfo/win/system_calls_win32.h"

#include <vector>

#include "crash/base/win/scoped_handle.h"

namespace kestrix {

std::string RegistryValue(HKEY root, const std::string& key, const char* value) {
  TScopedRegistryKey opened;
  if (RegOpenKeyExA(root, key.c_str(), 0, KEY_QUERY_VALUE, opened.Receive()) != ERROR_SUCCESS) return std::string();
  const HKEY h = opened.Get();
  DWORD type = 0, size = 0;
  std::string result;
  if (RegQueryValueExA(h, value, nullptr, &type, nullptr, &size) == ERROR_SUCCESS && size > 0) {
    std::vector<char> data(size + 1, '\0');
    if (RegQueryValueExA(h, value, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size) ==
        ERROR_SUCCESS) {
      if (type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ)
        result = data.data();  // up to the first NUL
      else
        result.assign(data.data(), size);
    }
  }
  return result;
}

FARPROC SystemProc(const char* library, const char* name) {
  HMODULE module = GetModuleHandleA(library);
  if (!module) module = LoadLibraryA(library);  // stays loaded for later queries
  return module ? GetProcAddress(module, name) : nullptr;
}

}  // namespace kestrix
