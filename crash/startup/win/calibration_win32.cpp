#include "crash/startup/win/calibration_win32.h"

#include <cstring>

#include "crash/base/win/critical_section.h"

extern "C" __attribute__((noinline, used)) void kestrix_code_marker() { __asm__ volatile(""); }
extern "C" __attribute__((used)) volatile const uint32_t kestrix_data_marker = 0x4B584D4B;

namespace kestrix {
namespace {

constexpr uint32_t kTopBit = 0x80000000u;

// Calls `visit(module, base name, its length)` for every module in the
// loader's list (PEB.Ldr, load order), under the loader lock.
template <class F>
void ForEachLoadedModule(F visit) {
  uint8_t* peb;
  asm("movl %%fs:0x30, %0" : "=r"(peb));
  auto* lock = *reinterpret_cast<CRITICAL_SECTION**>(peb + 0xA0);
  auto* ldr = *reinterpret_cast<uint8_t**>(peb + 0x0C);
  if (!lock || !ldr) return;
  const TCriticalSectionGuard held(lock);
  auto* head = reinterpret_cast<LIST_ENTRY*>(ldr + 0x0C);
  for (LIST_ENTRY* e = head->Flink; e && e != head; e = e->Flink) {
    auto* entry = reinterpret_cast<uint8_t*>(e);
    const auto base = *reinterpret_cast<HMODULE*>(entry + 0x18);
    const auto length = *reinterpret_cast<USHORT*>(entry + 0x2C) / sizeof(wchar_t);
    const auto* name = *reinterpret_cast<const wchar_t**>(entry + 0x30);
    if (base && name) visit(base, name, length);
  }
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
  // The ".bpl" modules from the loader's own list, read under the loader
  // lock: a module snapshot or a module enumeration would cost round trips
  // to the system at every start.
  HMODULE packages[64];
  size_t count = 0;
  ForEachLoadedModule([&](HMODULE m, const wchar_t* name, size_t length) {
    if (m != exe && m != own && length >= 4 && count < 64 && _wcsnicmp(name + length - 4, L".bpl", 4) == 0)
      packages[count++] = m;
  });
  for (size_t i = 0; i < count; ++i) CalibrateModuleHeader(packages[i], false);
}

}  // namespace kestrix
