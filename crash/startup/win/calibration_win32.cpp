#include "crash/startup/win/calibration_win32.h"

#include <tlhelp32.h>

#include <cstring>

#include "crash/base/win/scoped_handle.h"

extern "C" __attribute__((noinline, used)) void kestrix_code_marker() { __asm__ volatile(""); }
extern "C" __attribute__((used)) volatile const uint32_t kestrix_data_marker = 0x4B584D4B;

namespace kestrix {
namespace {

constexpr uint32_t kTopBit = 0x80000000u;

bool EndsWithBpl(const char* name) {
  const size_t n = std::strlen(name);
  return n >= 4 && lstrcmpiA(name + n - 4, ".bpl") == 0;
}

HMODULE OwnModule() {
  HMODULE module = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCSTR>(&kestrix_code_marker), &module);
  return module;
}

}  // namespace

bool CalibrateModuleHeader(HMODULE module, bool executable) {
  HRSRC info = module ? FindResourceA(module, "CALIBRATE", "KX") : nullptr;
  if (!info || SizeofResource(module, info) != 20) return false;
  HGLOBAL handle = LoadResource(module, info);
  const void* data = handle ? LockResource(handle) : nullptr;
  if (!data) return false;
  uint32_t c[5];
  std::memcpy(c, data, sizeof c);
  if (executable == ((c[0] & kTopBit) != 0)) return false;

  const auto base = reinterpret_cast<uintptr_t>(module);
  auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
  if (dos->e_magic != IMAGE_DOS_SIGNATURE) return false;
  auto* nt = reinterpret_cast<IMAGE_NT_HEADERS32*>(base + dos->e_lfanew);
  if (nt->Signature != IMAGE_NT_SIGNATURE || nt->OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR32_MAGIC) return false;
  IMAGE_OPTIONAL_HEADER32& h = nt->OptionalHeader;
  DWORD old = 0;
  if (!VirtualProtect(&h, sizeof h, PAGE_READWRITE, &old)) return false;
  if (executable) {
    h.BaseOfCode = static_cast<DWORD>(reinterpret_cast<uintptr_t>(&kestrix_code_marker) - c[0] - base);
    h.BaseOfData = static_cast<DWORD>(reinterpret_cast<uintptr_t>(&kestrix_data_marker) - base - c[1]);
  } else {
    h.BaseOfCode = c[0] & ~kTopBit;
    h.BaseOfData = c[1] & ~kTopBit;
  }
  h.SizeOfCode = c[2];
  h.SizeOfInitializedData = c[3];
  h.SizeOfUninitializedData = c[4];
  VirtualProtect(&h, sizeof h, old, &old);
  return true;
}

void CalibrateModuleHeaders() {
  const HMODULE exe = GetModuleHandleA(nullptr);
  const HMODULE own = OwnModule();
  CalibrateModuleHeader(exe, true);
  if (own && own != exe) CalibrateModuleHeader(own, false);
  TScopedHandle snap(CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, GetCurrentProcessId()));
  if (!snap) return;
  MODULEENTRY32 m;
  m.dwSize = sizeof m;
  for (BOOL ok = Module32First(snap.Get(), &m); ok; ok = Module32Next(snap.Get(), &m))
    if (m.hModule != exe && m.hModule != own && EndsWithBpl(m.szModule)) CalibrateModuleHeader(m.hModule, false);
}

}  // namespace kestrix
