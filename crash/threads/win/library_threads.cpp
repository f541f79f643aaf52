// The process's thread roles: the main thread, the handling thread and the
// library's own threads; the loader-lock and shutdown state.
#include "crash/threads/win/library_threads.h"

#include <atomic>
#include <mutex>
#include <type_traits>

#include "crash/base/win/critical_section.h"
#include "crash/threads/win/thread_table_win32.h"

namespace kestrix {
namespace {

// The thread roles. Constant-initialized and never destroyed: any thread
// asks, also before the library starts and while static destructors run,
// and the code patcher asks while it holds the other threads (nothing here
// allocates).
struct TLibraryThreadsState {
  // Written by the start-up.
  std::atomic<DWORD> mainThreadId{0};
  // Written by the handling thread's start and end; the one record of it.
  std::atomic<DWORD> handlingThreadId{0};
  // Written by the shutdown (and by tests).
  std::atomic<bool> shuttingDown{false};
  // The library's own threads, 0 for a free slot: written under `lock` by
  // RegisterLibraryThread and UnregisterLibraryThread.
  TSlimLock lock;
  DWORD libraryThreads[32] = {};
};
constinit TLibraryThreadsState g_threads;
static_assert(std::is_trivially_destructible_v<TLibraryThreadsState>, "no destructor runs at the process's end");

}  // namespace

DWORD HandlingThreadId() { return g_threads.handlingThreadId; }
void SetHandlingThreadId(DWORD id) { g_threads.handlingThreadId = id; }
DWORD MainThreadId() { return g_threads.mainThreadId; }
void SetMainThreadId(DWORD id) { g_threads.mainThreadId = id; }

bool IsLibraryThread(DWORD id) {
  std::lock_guard<TSlimLock> lock(g_threads.lock);
  for (DWORD t : g_threads.libraryThreads)
    if (t == id) return true;
  return false;
}

void RegisterLibraryThread(DWORD id, const char* name) {
  {
    std::lock_guard<TSlimLock> lock(g_threads.lock);
    for (DWORD& t : g_threads.libraryThreads)
      if (t == 0 || t == id) {
        t = id;
        break;
      }
  }
  AssignThreadName(id, name);
}

void UnregisterLibraryThread(DWORD id) {
  {
    std::lock_guard<TSlimLock> lock(g_threads.lock);
    for (DWORD& t : g_threads.libraryThreads)
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

bool IsProcessBlocked(DWORD waitMs) { return g_threads.shuttingDown || IsProcessStalled(waitMs); }

void SetShuttingDown(bool value) { g_threads.shuttingDown = value; }
bool ShuttingDown() { return g_threads.shuttingDown; }

}  // namespace kestrix
