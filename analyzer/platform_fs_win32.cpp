#include <windows.h>

#include "analyzer/platform_fs.h"

namespace quorrin {

bool FileExists(const std::string& name) {
  const DWORD attr = GetFileAttributesA(name.c_str());
  return attr != INVALID_FILE_ATTRIBUTES && !(attr & FILE_ATTRIBUTE_DIRECTORY);
}

std::string ExpandFileName(const std::string& name) {
  char buffer[MAX_PATH + 1];
  char* filePart = nullptr;
  DWORD n = GetFullPathNameA(name.c_str(), sizeof buffer, buffer, &filePart);
  if (n == 0) return {};
  if (n < sizeof buffer) return std::string(buffer, n);
  // Longer than MAX_PATH: ask again with room for all of it rather than
  // return a cut path.
  std::string big(n, '\0');
  n = GetFullPathNameA(name.c_str(), static_cast<DWORD>(big.size()), big.data(), &filePart);
  big.resize(n < big.size() ? n : 0);
  return big;
}

std::string GetCurrentDir() {
  char buffer[MAX_PATH + 1];
  const DWORD n = GetCurrentDirectoryA(sizeof buffer, buffer);
  return n < sizeof buffer ? std::string(buffer, n) : std::string();
}

bool SetCurrentDir(const std::string& dir) { return SetCurrentDirectoryA(dir.c_str()) != 0; }

std::string SysErrorMessage(unsigned long code) {
  char* text = nullptr;
  const DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                     FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ARGUMENT_ARRAY,
                                 nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string result(text ? text : "", text ? n : 0);
  if (text) LocalFree(text);
  while (!result.empty() && (static_cast<unsigned char>(result.back()) <= 32 || result.back() == '.'))
    result.pop_back();
  return result;
}

}  // namespace quorrin
