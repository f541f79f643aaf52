// Names, versions and version texts of loaded modules.
#include <windows.h>

#include <cstring>

#include "crash/settings/win/settings_object.h"

namespace kestrix {

namespace {

bool Readable(const void* address) {
  MEMORY_BASIC_INFORMATION info;
  if (!VirtualQuery(address, &info, sizeof info) || info.State != MEM_COMMIT) return false;
  DWORD p = info.Protect & 0xFF;
  return !(info.Protect & PAGE_GUARD) &&
         (p == PAGE_READONLY || p == PAGE_READWRITE || p == PAGE_WRITECOPY || p == PAGE_EXECUTE_READ ||
          p == PAGE_EXECUTE_READWRITE || p == PAGE_EXECUTE_WRITECOPY);
}

// Size of the module's image from its PE header; 0 when unreadable.
uint32_t ImageSize(HMODULE module) {
  auto* base = reinterpret_cast<const unsigned char*>(module);
  if (!base || !Readable(base)) return 0;
  auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  if (dos->e_magic != IMAGE_DOS_SIGNATURE || dos->e_lfanew <= 0 || dos->e_lfanew > 4096) return 0;
  auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  if (!Readable(nt) || nt->Signature != IMAGE_NT_SIGNATURE) return 0;
  return nt->OptionalHeader.SizeOfImage;
}

}  // namespace

std::string ModuleFileName(HMODULE module) {
  char path[MAX_PATH + 1];
  DWORD n = GetModuleFileNameA(module, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return std::string();
  std::string full(path, n);
  size_t cut = full.find_last_of("\\/:");
  return cut == std::string::npos ? full : full.substr(cut + 1);
}

bool ModuleFileVersion(HMODULE module, uint32_t& versionMS, uint32_t& versionLS) {
  versionMS = versionLS = 0;
  HRSRC info = FindResourceA(module, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(16) /* RT_VERSION */);
  HGLOBAL handle = info ? LoadResource(module, info) : nullptr;
  auto* data = static_cast<const unsigned char*>(handle ? LockResource(handle) : nullptr);
  if (!data) return false;
  DWORD size = SizeofResource(module, info);
  // VS_FIXEDFILEINFO follows the "VS_VERSION_INFO" key, 32-bit aligned.
  for (DWORD at = 0; at + sizeof(VS_FIXEDFILEINFO) <= size; at += 4) {
    VS_FIXEDFILEINFO fixed;
    std::memcpy(&fixed, data + at, sizeof fixed);
    if (fixed.dwSignature == 0xFEEF04BD) {
      versionMS = fixed.dwFileVersionMS;
      versionLS = fixed.dwFileVersionLS;
      return true;
    }
  }
  return false;
}

std::string ReadModuleVersionText(HMODULE module, int32_t offset) {
  if (offset <= 0) return std::string();
  uint32_t size = ImageSize(module);
  auto* base = reinterpret_cast<const char*>(module);
  std::string text;
  for (uint32_t at = static_cast<uint32_t>(offset); at < size; ++at) {
    const char* p = base + at;
    // Check each page once, at its first byte we read.
    if ((at == static_cast<uint32_t>(offset) || (reinterpret_cast<uintptr_t>(p) & 0xFFF) == 0) &&
        !Readable(p))
      return std::string();
    if (*p == '\0') return text;
    text += *p;
  }
  return std::string();  // no terminator inside the image
}

}  // namespace kestrix
