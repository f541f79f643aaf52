#include "crash/startup/win/import_patch_win32.h"

#include <cstdint>
#include <cstring>

namespace kestrix {

// Points the executable's import of `name` at `hook`.
void PatchImport(const char* name, void* hook, TImportPatch& patch) {
  auto* base = reinterpret_cast<uint8_t*>(GetModuleHandleA(nullptr));
  auto* nt = reinterpret_cast<IMAGE_NT_HEADERS32*>(base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
  const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (!dir.VirtualAddress) return;
  for (auto* d = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress); d->Name; ++d) {
    if (!d->OriginalFirstThunk) continue;
    auto* names = reinterpret_cast<IMAGE_THUNK_DATA32*>(base + d->OriginalFirstThunk);
    auto* slots = reinterpret_cast<IMAGE_THUNK_DATA32*>(base + d->FirstThunk);
    for (; names->u1.AddressOfData; ++names, ++slots) {
      if (names->u1.Ordinal & IMAGE_ORDINAL_FLAG32) continue;
      auto* byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
      if (std::strcmp(reinterpret_cast<const char*>(byName->Name), name) != 0) continue;
      DWORD old;
      if (!VirtualProtect(&slots->u1.Function, 4, PAGE_READWRITE, &old)) return;
      patch.slot = reinterpret_cast<void**>(&slots->u1.Function);
      patch.original = reinterpret_cast<void*>(slots->u1.Function);
      slots->u1.Function = reinterpret_cast<DWORD>(hook);
      VirtualProtect(&slots->u1.Function, 4, old, &old);
      return;
    }
  }
}

void UnpatchImport(TImportPatch& patch) {
  DWORD old;
  if (patch.slot && VirtualProtect(patch.slot, 4, PAGE_READWRITE, &old)) {
    *patch.slot = patch.original;
    VirtualProtect(patch.slot, 4, old, &old);
  }
  patch = TImportPatch();
}

}  // namespace kestrix
