// The process's thread roles: the main thread, the handling thread and the
// library's own threads; the loader-lock and shutdown state.
#include "crash/threads/win/library_threads.h"

#include <atomic>
#include <mutex>

#include "crash/threads/win/thread_table_win32.h"

namespace kestrix {
namespace {

std::atomic<DWORD> g_mainThreadId{0};
std::atomic<DWORD> g_handlingThreadId{0};
std::atomic<bool> g_shuttingDown{false};
// Leaked: threads of the library may still ask while static destructors run.
std::mutex& LibraryThreadsMutex() {
  static std::mutex* m = new std::mutex;
  return *m;
}
DWORD g_libraryThreads[32] = {};

}  // namespace

DWORD HandlingThreadId() { return g_handlingThreadId; }
void SetHandlingThreadId(DWORD id) { g_handlingThreadId = id; }
DWORD MainThreadId() { return g_mainThreadId; }
void SetMainThreadId(DWORD id) { g_mainThreadId = id; }

bool IsLibraryThread(DWORD id) {
  std::lock_guard<std::mutex> lock(LibraryThreadsMutex());
  for (DWORD t : g_libraryThreads)
    if (t == id) return true;
  return false;
}

void RegisterLibraryThread(DWORD id, const char* name) {
  {
    std::lock_guard<std::mutex> lock(LibraryThreadsMutex());
    for (DWORD& t : g_libraryThreads)
      if (t == 0 || t == id) {
        t = id;
        break;
      }
  }
  AssignThreadName(id, name);
}

void UnregisterLibraryThread(DWORD id) {
  {
    std::lock_guard<std::mutex> lock(LibraryThreadsMutex());
    for (DWORD& t : g_libraryThreads)
      if (t == id) t = 0;
  }
  UnregisterThread(id);
}

namespace {

// The owner of a critical section of the process environment block; 0 free.
DWORD PebLockOwner(uint32_t offset) {
  auto* peb = reinterpret_cast<uint8_t*>(__readfsdword(0x30));
  auto* lock = peb ? *reinterpret_cast<RTL_CRITICAL_SECTION**>(peb + offset) : nullptr;
  return lock ? static_cast<DWORD>(reinterpret_cast<uintptr_t>(lock->OwningThread)) : 0;
}

}  // namespace

bool IsProcessStalled(DWORD waitMs) {
  // PEB->LoaderLock (0xA0), else PEB->FastPebLock (0x1C).
  for (DWORD left = waitMs;; left -= 10) {
    DWORD owner = PebLockOwner(0xA0);
    if (!owner) owner = PebLockOwner(0x1C);
    if (!owner) return false;
    if (owner == GetCurrentThreadId() || left < 10) return true;
    Sleep(10);
  }
}

bool HoldsLoaderLock() { return PebLockOwner(0xA0) == GetCurrentThreadId(); }

bool IsProcessBlocked(DWORD waitMs) { return g_shuttingDown || IsProcessStalled(waitMs); }

void SetShuttingDown(bool value) { g_shuttingDown = value; }
bool ShuttingDown() { return g_shuttingDown; }

}  // namespace kestrix
