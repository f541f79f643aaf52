// Import slots of the executable pointed at the library's catch points, and
// put back at shutdown.
#pragma once

#include <windows.h>

namespace kestrix {

struct TImportPatch {
  void** slot = nullptr;
  void* original = nullptr;
};

// Points the executable's import of `name` (by name, any DLL) at `hook`;
// the patch stays empty when there is no such import.
void PatchImport(const char* name, void* hook, TImportPatch& patch);
void UnpatchImport(TImportPatch& patch);

}  // namespace kestrix
