#include "crash/base/win/lazy_imports_win32.h"

#include <cstdint>
#include <cstring>

namespace kestrix {

namespace {

// The loader lock: PEB.LoaderLock, at 0xA0 in a 32-bit process (the PEB at
// fs:[0x30]).
RTL_CRITICAL_SECTION* LoaderLock() {
  uint8_t* peb;
  asm("movl %%fs:0x30, %0" : "=r"(peb));
  return *reinterpret_cast<RTL_CRITICAL_SECTION* volatile*>(peb + 0xA0);
}

DWORD LoaderLockOwner() {
  RTL_CRITICAL_SECTION* lock = LoaderLock();
  if (!lock) return 0;
  const DWORD owner = static_cast<DWORD>(reinterpret_cast<uintptr_t>(
      *reinterpret_cast<HANDLE volatile*>(&lock->OwningThread)));
  return owner == GetCurrentThreadId() ? 0 : owner;
}

// The holder a wait already gave up on: it is not waited for again.
volatile LONG g_stuckHolder = 0;

// True when the loader lock is free of other threads (at once, or within
// the wait); false when a holder keeps it.
bool WaitForLoaderLock() {
  DWORD owner = LoaderLockOwner();
  if (!owner) return true;
  if (static_cast<DWORD>(g_stuckHolder) == owner) return false;
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < kLoaderLockWaitMs) {
    Sleep(1);
    owner = LoaderLockOwner();
    if (!owner) return true;
  }
  InterlockedExchange(&g_stuckHolder, static_cast<LONG>(owner));
  return false;
}

// Import patches in force: a function that binds to `from` binds to `to`.
struct TRedirect {
  void* from;
  void* to;
};
constexpr size_t kMaxRedirects = 32;

// Written by RedirectLazyImports under `lock`, read by every binding.
struct TLazyImportState {
  SRWLOCK lock = SRWLOCK_INIT;
  TRedirect redirects[kMaxRedirects] = {};
  size_t count = 0;
};
constinit TLazyImportState g_lazy;

}  // namespace

// The function a binding to `target` takes: its replacement while patched.
void* RedirectedImport(void* target) {
  AcquireSRWLockShared(&g_lazy.lock);
  for (size_t i = 0; i < g_lazy.count; ++i)
    if (g_lazy.redirects[i].from == target) {
      target = g_lazy.redirects[i].to;
      break;
    }
  ReleaseSRWLockShared(&g_lazy.lock);
  return target;
}

// This module's records, from the stubs the program links.
extern "C" const TLazyImport kxLazyImportsBegin[];
extern "C" const TLazyImport kxLazyImportsEnd[];

size_t RedirectLazyImports(void* from, void* to) {
  AcquireSRWLockExclusive(&g_lazy.lock);
  // An undo ends the redirect it undoes; a patch of a patched function
  // goes on to the newest replacement.
  bool merged = false;
  for (size_t i = 0; i < g_lazy.count && !merged; ++i)
    if (g_lazy.redirects[i].to == from) {
      g_lazy.redirects[i].to = to;
      if (g_lazy.redirects[i].from == to) g_lazy.redirects[i] = g_lazy.redirects[--g_lazy.count];
      merged = true;
    }
  if (!merged && g_lazy.count < kMaxRedirects) g_lazy.redirects[g_lazy.count++] = {from, to};
  size_t changed = 0;
  for (const TLazyImport* import = kxLazyImportsBegin; import < kxLazyImportsEnd; ++import)
    if (InterlockedCompareExchangePointer(import->slot, to, from) == from) ++changed;
  ReleaseSRWLockExclusive(&g_lazy.lock);
  return changed;
}

bool LoaderLockHeldElsewhere() { return LoaderLockOwner() != 0; }

HMODULE LoadSystemLibrary(const char* name) {
  // Finding a loaded module takes the loader lock too.
  if (!WaitForLoaderLock()) {
    SetLastError(ERROR_POSSIBLE_DEADLOCK);
    return nullptr;
  }
  if (HMODULE module = GetModuleHandleA(name)) return module;
  char path[MAX_PATH];
  const UINT n = GetSystemDirectoryA(path, MAX_PATH);
  const size_t length = std::strlen(name);
  if (n == 0 || n + 1 + length >= MAX_PATH) return nullptr;
  path[n] = '\\';
  std::memcpy(path + n + 1, name, length + 1);
  // Loaded once and kept: the reference is never given back.
  return LoadLibraryA(path);
}

}  // namespace kestrix

extern "C" void* __cdecl kxLazyResolve(const kestrix::TLazyImport* import) {
  // Bound already: a caller that kept the pointer from before comes here
  // again (the compiler may load an import pointer once for many calls).
  if (void* bound = *import->slot; bound != import->unbound && bound) return bound;
  const DWORD error = GetLastError();
  const HMODULE module = kestrix::LoadSystemLibrary(import->library);
  if (!module) {
    if (GetLastError() != ERROR_POSSIBLE_DEADLOCK) SetLastError(ERROR_MOD_NOT_FOUND);
    return import->failure;
  }
  void* target = reinterpret_cast<void*>(GetProcAddress(module, import->name));
  if (!target) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return import->failure;
  }
  target = kestrix::RedirectedImport(target);
  InterlockedExchangePointer(import->slot, target);
  // The caller sees the last error as it was before the call.
  SetLastError(error);
  return target;
}
