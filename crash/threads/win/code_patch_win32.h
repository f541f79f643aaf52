// The two patching techniques every hook of the library rests on: import
// address slots rewritten in loaded modules, and code bytes (jumps, call
// targets) written with a record for undoing. Safe while other threads run:
// page protections are restored, the instruction cache is flushed, and a
// value or jump another thread may execute is written in one store.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

namespace kestrix {

// Points every import slot holding `library`!`function` at `replacement`:
// in every loaded module when the library lives in the executable, else in
// the library's own module; and the runtime's jump stub (an indirect jump
// FF 25 through a pointer) when given and its pointer still holds the
// original. Returns the original address (null when the function is not
// exported).
void* PatchImports(const char* library, const char* function, void* runtimeStub, void* replacement);
// The same walk with original and replacement exchanged.
void UnpatchImports(void* runtimeStub, void* original, void* replacement);
// Applies every import patch in force to a module loaded after it was made.
void PatchLaterModule(HMODULE module);
// Points one module's import of `function` (by name, from any library) at
// `replacement`; returns the original, null when there is no such import.
void* PatchModuleImport(HMODULE module, const char* function, void* replacement);
// Patches one module's slots holding `original`; false when its import
// table is invalid (a slot array beyond the import directory).
bool PatchModuleImports(HMODULE module, void* original, void* replacement);

// Writes `length` bytes at `address` when they differ from the current
// ones and records (address, old, new); false on any failure.
bool PatchCode(void* address, const void* bytes, size_t length);
// A 5-byte relative jump E9 at `address` (at the destination of an
// indirect jump stub FF 25 there) to `target`.
bool PatchJump(void* address, void* target);
// Four bytes at `address` (the relative target of a call).
bool PatchValue(void* address, uint32_t value);
// Restores, newest first, the old bytes wherever the current bytes still
// equal the new ones, and forgets the records.
void UndoCodePatches();
// The same for the records at one address only.
void UndoCodePatchAt(void* address);
size_t CodePatchCount();

// Import slots currently pointing at `replacement` in the loaded modules
// (for tests and diagnostics).
size_t CountImportSlots(void* replacement);

}  // namespace kestrix
