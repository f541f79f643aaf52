// What the collectors ask the system through: registry values, system calls
// looked up by name, the system's family.
#pragma once

#include <windows.h>

#include <string>

namespace kestrix {

// The 9x family (the high bit of the system's version number).
inline bool IsWin9xFamily() { return (GetVersion() & 0x80000000u) != 0; }

// A registry value: a string up to its NUL, any other type as its raw
// bytes; a missing key or value reads as "".
std::string RegistryValue(HKEY root, const std::string& key, const char* value);
// A system call looked up by name, loading its library when needed; null
// when either is missing.
FARPROC SystemProc(const char* library, const char* name);
template <class F>
F SystemCall(const char* library, const char* name) {
  return reinterpret_cast<F>(reinterpret_cast<void*>(SystemProc(library, name)));
}

}  // namespace kestrix
