// Import-slot and code patching with undo records.
#include "crash/threads/win/code_patch_win32.h"

#include "crash/base/win/lazy_imports_win32.h"

#include <cstring>
#include <mutex>
#include <utility>
#include <vector>

#include "crash/base/win/scoped_handle.h"
#include "crash/threads/win/thread_table_win32.h"

namespace kestrix {
namespace {

struct TPatchRecord {
  uint8_t* address;
  std::vector<uint8_t> oldBytes;
  std::vector<uint8_t> newBytes;
};

// The patcher's state. Leaked: hooks are removed after the program's static
// destructors. Every field is written under `mutex`.
struct TPatchState {
  std::mutex mutex;  // one patch at a time: protections are per page
  // Appended by each code patch, taken out by its undo.
  std::vector<TPatchRecord> records;
  // The import patches in force, (original, replacement): appended by
  // PatchImports when the library is in the executable (later modules get
  // them too), taken out by UnpatchImports.
  std::vector<std::pair<void*, void*>> imports;
};
TPatchState& State() {
  static auto* state = new TPatchState;
  return *state;
}

HMODULE OwnModule() {
  HMODULE module = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCSTR>(&OwnModule), &module);
  return module;
}

// Every committed image whose base is its allocation base and that has a
// file name (on the legacy family: below 2 GiB only, which a 32-bit
// process without the large-address flag never passes anyway).
std::vector<HMODULE> LoadedModules() {
  std::vector<HMODULE> modules;
  SYSTEM_INFO si;
  GetSystemInfo(&si);
  auto* p = static_cast<uint8_t*>(si.lpMinimumApplicationAddress);
  MEMORY_BASIC_INFORMATION mbi;
  while (p < si.lpMaximumApplicationAddress && VirtualQuery(p, &mbi, sizeof mbi) == sizeof mbi) {
    if (mbi.Type == MEM_IMAGE && mbi.State == MEM_COMMIT && mbi.BaseAddress == mbi.AllocationBase) {
      char name[MAX_PATH];
      if (GetModuleFileNameA(static_cast<HMODULE>(mbi.AllocationBase), name, MAX_PATH))
        modules.push_back(static_cast<HMODULE>(mbi.AllocationBase));
    }
    uint8_t* next = static_cast<uint8_t*>(mbi.BaseAddress) + mbi.RegionSize;
    if (next <= p) break;
    p = next;
  }
  return modules;
}

bool LibraryInExecutable() { return OwnModule() == GetModuleHandleA(nullptr); }

// A 4-byte aligned slot, written with one store.
bool WriteSlot(void** slot, void* expected, void* value) {
  DWORD old;
  if (!VirtualProtect(slot, 4, PAGE_READWRITE, &old)) return false;
  InterlockedCompareExchangePointer(slot, value, expected);
  VirtualProtect(slot, 4, old, &old);
  return true;
}

void ShowInvalidImportTable(HMODULE module) {
  if (module != GetModuleHandleA(nullptr) || !IsDebuggerPresent()) return;
  char path[MAX_PATH] = "";
  GetModuleFileNameA(module, path, MAX_PATH);
  MessageBoxA(nullptr, "The import table is invalid.\r\n\r\nThis way Kestrix can't install the thread hooks.", path,
              MB_OK | MB_ICONWARNING);
}

size_t WalkModuleImports(HMODULE module, void* match, void* replacement, bool& valid) {
  valid = true;
  size_t count = 0;
  auto* base = reinterpret_cast<uint8_t*>(module);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  if (dos->e_magic != IMAGE_DOS_SIGNATURE) return 0;
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(base + dos->e_lfanew);
  if (nt->Signature != IMAGE_NT_SIGNATURE || nt->OptionalHeader.NumberOfRvaAndSizes <= IMAGE_DIRECTORY_ENTRY_IMPORT)
    return 0;
  const uint32_t imageSize = nt->OptionalHeader.SizeOfImage;
  const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (!dir.VirtualAddress || dir.VirtualAddress >= imageSize) return 0;
  for (auto* d = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress);
       reinterpret_cast<const uint8_t*>(d + 1) <= base + imageSize && d->Name; ++d) {
    // A slot array outside the image: the table cannot be trusted.
    if (d->FirstThunk == 0 || d->FirstThunk >= imageSize) {
      valid = false;
      return count;
    }
    auto* slots = reinterpret_cast<void**>(base + d->FirstThunk);
    for (; reinterpret_cast<uint8_t*>(slots + 1) <= base + imageSize && *slots; ++slots)
      if (*slots == match && WriteSlot(slots, match, replacement)) ++count;
  }
  return count;
}

// Reads the destination pointer of an indirect jump stub FF 25 [ptr];
// null when `stub` is none.
void** StubPointer(void* stub) {
  auto* code = static_cast<const uint8_t*>(stub);
  if (!code || IsBadReadPtr(code, 6) || code[0] != 0xFF || code[1] != 0x25) return nullptr;
  void** pointer;
  std::memcpy(&pointer, code + 2, 4);
  return IsBadReadPtr(pointer, 4) ? nullptr : pointer;
}

size_t SwapEverywhere(void* runtimeStub, void* from, void* to) {
  if (!from || !to) return 0;
  size_t count = 0;
  const std::vector<HMODULE> modules =
      LibraryInExecutable() ? LoadedModules() : std::vector<HMODULE>{OwnModule()};
  for (HMODULE module : modules) {
    bool valid = true;
    count += WalkModuleImports(module, from, to, valid);
    if (!valid) ShowInvalidImportTable(module);
  }
  if (void** pointer = StubPointer(runtimeStub))
    if (*pointer == from && WriteSlot(pointer, from, to)) ++count;
  // The library's own calls into the system libraries it binds on first call.
  count += RedirectLazyImports(from, to);
  return count;
}

bool SameBytes(const uint8_t* a, const uint8_t* b, size_t n) { return std::memcmp(a, b, n) == 0; }

// Writes n bytes that another thread may be executing: one store when they
// lie in one aligned 8-byte block, else with the other threads held
// outside the range.
bool WriteCodeBytes(uint8_t* at, const uint8_t* bytes, size_t n) {
  const uintptr_t a = reinterpret_cast<uintptr_t>(at);
  const uintptr_t block = a & ~uintptr_t(7);
  if (a + n <= block + 8) {
    auto* p = reinterpret_cast<volatile LONGLONG*>(block);
    for (;;) {
      LONGLONG before = *p, after = before;
      std::memcpy(reinterpret_cast<uint8_t*>(&after) + (a - block), bytes, n);
      if (InterlockedCompareExchange64(p, after, before) == before) return true;
    }
  }
  // Other threads are suspended while the bytes change, and none may stand
  // inside them (it would resume in the middle of an instruction). While
  // they are held nothing is allocated or closed: a held thread may own the
  // heap's lock or a lock of the system's handle table.
  const DWORD self = GetCurrentThreadId();
  for (int attempt = 0; attempt < 50; ++attempt) {
    const std::vector<DWORD> ids = ThreadIds();
    // Reserved before any thread is held: push_back then never allocates.
    std::vector<TScopedHandle> opened;
    std::vector<HANDLE> held;
    opened.reserve(ids.size());
    held.reserve(ids.size());
    bool inside = false;
    for (DWORD id : ids) {
      if (id == self) continue;
      HANDLE h = OpenThread(THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT, FALSE, id);
      if (!h) continue;
      opened.emplace_back(h);
      if (SuspendThread(h) == static_cast<DWORD>(-1)) continue;
      held.push_back(h);
      CONTEXT c{};
      c.ContextFlags = CONTEXT_CONTROL;
      if (GetThreadContext(h, &c) && c.Eip > a && c.Eip < a + n) inside = true;
    }
    if (!inside) std::memcpy(at, bytes, n);
    for (HANDLE h : held) ResumeThread(h);
    // Closed only now, with every thread running again.
    opened.clear();
    if (!inside) return true;
    Sleep(1);
  }
  return false;
}

bool WriteProtected(uint8_t* at, const uint8_t* bytes, size_t n) {
  DWORD old;
  if (!VirtualProtect(at, n, PAGE_EXECUTE_READWRITE, &old)) return false;
  const bool written = WriteCodeBytes(at, bytes, n);
  VirtualProtect(at, n, old, &old);
  FlushInstructionCache(GetCurrentProcess(), at, n);
  return written;
}

bool Readable(const void* p, size_t n) {
  MEMORY_BASIC_INFORMATION mbi;
  if (!p || VirtualQuery(p, &mbi, sizeof mbi) != sizeof mbi || mbi.State != MEM_COMMIT) return false;
  if (mbi.Protect & (PAGE_NOACCESS | PAGE_GUARD)) return false;
  return static_cast<const uint8_t*>(p) + n <= static_cast<const uint8_t*>(mbi.BaseAddress) + mbi.RegionSize;
}

void UndoRecord(const TPatchRecord& r) {
  if (Readable(r.address, r.newBytes.size()) && SameBytes(r.address, r.newBytes.data(), r.newBytes.size()))
    WriteProtected(r.address, r.oldBytes.data(), r.oldBytes.size());
}

}  // namespace

void* PatchModuleImport(HMODULE module, const char* function, void* replacement) {
  auto* base = reinterpret_cast<uint8_t*>(module);
  if (!base || !function) return nullptr;
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(
      base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
  const uint32_t imageSize = nt->OptionalHeader.SizeOfImage;
  const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (!dir.VirtualAddress || dir.VirtualAddress >= imageSize) return nullptr;
  std::lock_guard<std::mutex> lock(State().mutex);
  for (auto* d = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress); d->Name; ++d) {
    if (!d->OriginalFirstThunk || d->OriginalFirstThunk >= imageSize || d->FirstThunk >= imageSize) continue;
    auto* names = reinterpret_cast<const IMAGE_THUNK_DATA32*>(base + d->OriginalFirstThunk);
    auto* slots = reinterpret_cast<void**>(base + d->FirstThunk);
    for (; names->u1.AddressOfData; ++names, ++slots) {
      if ((names->u1.Ordinal & IMAGE_ORDINAL_FLAG32) || names->u1.AddressOfData >= imageSize) continue;
      const auto* byName = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
      if (std::strcmp(reinterpret_cast<const char*>(byName->Name), function) != 0) continue;
      void* original = *slots;
      return WriteSlot(slots, original, replacement) ? original : nullptr;
    }
  }
  return nullptr;
}

bool PatchModuleImports(HMODULE module, void* original, void* replacement) {
  std::lock_guard<std::mutex> lock(State().mutex);
  bool valid = true;
  WalkModuleImports(module, original, replacement, valid);
  return valid;
}

void* PatchImports(const char* library, const char* function, void* runtimeStub, void* replacement) {
  HMODULE module = GetModuleHandleA(library);
  void* original = module ? reinterpret_cast<void*>(GetProcAddress(module, function)) : nullptr;
  if (!original) return nullptr;
  std::lock_guard<std::mutex> lock(State().mutex);
  SwapEverywhere(runtimeStub, original, replacement);
  if (LibraryInExecutable()) State().imports.emplace_back(original, replacement);
  return original;
}

void UnpatchImports(void* runtimeStub, void* original, void* replacement) {
  std::lock_guard<std::mutex> lock(State().mutex);
  SwapEverywhere(runtimeStub, replacement, original);
  auto& imports = State().imports;
  for (size_t i = imports.size(); i-- > 0;)
    if (imports[i] == std::make_pair(original, replacement)) imports.erase(imports.begin() + i);
}

void PatchLaterModule(HMODULE module) {
  if (!module) return;
  std::lock_guard<std::mutex> lock(State().mutex);
  for (const auto& [original, replacement] : State().imports) {
    bool valid = true;
    WalkModuleImports(module, original, replacement, valid);
    if (!valid) return;
  }
}

size_t CountImportSlots(void* replacement) {
  size_t count = 0;
  for (HMODULE module : LoadedModules()) {
    auto* base = reinterpret_cast<uint8_t*>(module);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(
        base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const uint32_t imageSize = nt->OptionalHeader.SizeOfImage;
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (!dir.VirtualAddress || dir.VirtualAddress >= imageSize) continue;
    for (auto* d = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress);
         d->Name && d->FirstThunk && d->FirstThunk < imageSize; ++d)
      for (auto* slots = reinterpret_cast<void**>(base + d->FirstThunk);
           reinterpret_cast<uint8_t*>(slots + 1) <= base + imageSize && *slots; ++slots)
        count += *slots == replacement;
  }
  return count;
}

bool PatchCode(void* address, const void* bytes, size_t length) {
  auto* at = static_cast<uint8_t*>(address);
  const auto* with = static_cast<const uint8_t*>(bytes);
  if (!at || !with || length == 0 || !Readable(at, length)) return false;
  std::lock_guard<std::mutex> lock(State().mutex);
  if (SameBytes(at, with, length)) return true;
  TPatchRecord r{at, std::vector<uint8_t>(at, at + length), std::vector<uint8_t>(with, with + length)};
  if (!WriteProtected(at, with, length)) return false;
  State().records.push_back(std::move(r));
  return true;
}

bool PatchJump(void* address, void* target) {
  auto* at = static_cast<uint8_t*>(address);
  if (void** pointer = StubPointer(at)) {
    if (!Readable(*pointer, 5)) return false;
    at = static_cast<uint8_t*>(*pointer);
  }
  uint8_t jump[5] = {0xE9};
  const int32_t displacement = static_cast<int32_t>(reinterpret_cast<uintptr_t>(target) -
                                                    reinterpret_cast<uintptr_t>(at) - 5);
  std::memcpy(jump + 1, &displacement, 4);
  return PatchCode(at, jump, sizeof jump);
}

bool PatchValue(void* address, uint32_t value) { return PatchCode(address, &value, 4); }

void UndoCodePatches() {
  std::lock_guard<std::mutex> lock(State().mutex);
  auto& records = State().records;
  for (auto r = records.rbegin(); r != records.rend(); ++r) UndoRecord(*r);
  records.clear();
}

void UndoCodePatchAt(void* address) {
  std::lock_guard<std::mutex> lock(State().mutex);
  auto& records = State().records;
  for (size_t i = records.size(); i-- > 0;)
    if (records[i].address == address) {
      UndoRecord(records[i]);
      records.erase(records.begin() + i);
    }
}

size_t CodePatchCount() {
  std::lock_guard<std::mutex> lock(State().mutex);
  return State().records.size();
}

}  // namespace kestrix
