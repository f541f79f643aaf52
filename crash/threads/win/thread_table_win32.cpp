#include "crash/threads/win/thread_table_win32.h"

#include <tlhelp32.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <type_traits>

#include "crash/base/win/scoped_handle.h"

namespace kestrix {
namespace {

// The 20 bytes of shared memory.
struct TThreadTable {
  HANDLE watchdogMutex;
  HANDLE listMutex;
  struct TThreadEntry* head;
  LONG users;
  HANDLE mapping;
};
static_assert(sizeof(TThreadTable) == 20, "the thread registry is 20 bytes");

// 28 bytes on the process heap; entries of other copies may be shorter.
struct TThreadEntry {
  DWORD id;
  char* name;
  TThreadEntry* next;
  char* className;
  uint32_t creatorAddress;
  DWORD creatorThreadId;
  HANDLE handle;
};
static_assert(sizeof(TThreadEntry) == 28, "a thread entry is 28 bytes");

// This copy's view of the process's registry. Constant-initialized and
// never destroyed: threads are named and looked up from any thread, also
// while static destructors run.
struct TThreadTableState {
  // Published by OpenThreadTable (under the creation mutex) once filled in
  // and counted among the users; never unmapped.
  std::atomic<TThreadTable*> table{nullptr};
  // This copy's handle of the mapping, written by OpenThreadTable and kept
  // open for the process.
  HANDLE mapping = nullptr;
};
constinit TThreadTableState g_state;
static_assert(std::is_trivially_destructible_v<TThreadTableState>, "no destructor runs at the process's end");

TThreadTable* Table() { return g_state.table.load(std::memory_order_acquire); }

char* HeapText(const std::string& s) {
  if (s.empty()) return nullptr;
  char* p = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, s.size() + 1));
  if (p) std::memcpy(p, s.c_str(), s.size() + 1);
  return p;
}

void HeapFreeText(char* p) {
  if (p) HeapFree(GetProcessHeap(), 0, p);
}

size_t EntrySize(TThreadEntry* e) { return HeapSize(GetProcessHeap(), 0, e); }

class TTableLock {
 public:
  explicit TTableLock(DWORD waitMs) {
    if (Table() && Table()->listMutex) {
      DWORD r = WaitForSingleObject(Table()->listMutex, waitMs);
      locked_ = r == WAIT_OBJECT_0 || r == WAIT_ABANDONED;
    }
  }
  ~TTableLock() {
    if (locked_) ReleaseMutex(Table()->listMutex);
  }
  bool Locked() const { return locked_; }

 private:
  bool locked_ = false;
};

void FreeEntry(TThreadEntry* e) {
  HeapFreeText(e->name);
  if (EntrySize(e) >= 24) HeapFreeText(e->className);
  if (EntrySize(e) >= 28) TScopedHandle(e->handle).Reset();  // the entry owns its thread handle
  HeapFree(GetProcessHeap(), 0, e);
}

// Serialises creating, opening and first filling in of the table among the
// copies of the library in the process ("KestrixThreadNameMtx$<pid>").
class TCreationLock {
 public:
  TCreationLock() {
    char name[64];
    std::snprintf(name, sizeof name, "KestrixThreadNameMtx$%lx", GetCurrentProcessId());
    handle_.Reset(CreateMutexA(nullptr, FALSE, name));
    if (!handle_) return;
    const DWORD r = WaitForSingleObject(handle_.Get(), INFINITE);
    if (r != WAIT_OBJECT_0 && r != WAIT_ABANDONED) handle_.Reset();
  }
  ~TCreationLock() {
    if (handle_) ReleaseMutex(handle_.Get());
  }
  TCreationLock(const TCreationLock&) = delete;
  TCreationLock& operator=(const TCreationLock&) = delete;
  bool Held() const { return handle_.Valid(); }

 private:
  TScopedHandle handle_;
};

// Unregisters the first entry whose thread has ended (one per call: threads
// that never passed their end through the library leave no lasting trace).
// Under the list lock.
void PurgeOneEnded() {
  for (TThreadEntry** link = &Table()->head; *link; link = &(*link)->next) {
    TThreadEntry* e = *link;
    if (EntrySize(e) < 28 || !e->handle || WaitForSingleObject(e->handle, 0) != WAIT_OBJECT_0) continue;
    *link = e->next;
    FreeEntry(e);
    return;
  }
}

}  // namespace

bool OpenThreadTable() {
  if (g_state.table) return true;
  TCreationLock creation;
  if (!creation.Held()) return false;
  if (g_state.table) return true;  // another thread of this copy got there first
  char name[64];
  std::snprintf(name, sizeof name, "KestrixThreadNameBuf$%lx", GetCurrentProcessId());
  TScopedHandle mapping(
      CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(TThreadTable), name));
  if (!mapping) return false;
  const bool created = GetLastError() != ERROR_ALREADY_EXISTS;
  // The view and the mapping stay for the process (see CloseThreadTable).
  auto* table =
      static_cast<TThreadTable*>(MapViewOfFile(mapping.Get(), FILE_MAP_ALL_ACCESS, 0, 0, sizeof(TThreadTable)));
  if (!table) return false;
  if (created) {
    table->watchdogMutex = CreateMutexA(nullptr, FALSE, nullptr);
    table->listMutex = CreateMutexA(nullptr, FALSE, nullptr);
    table->head = nullptr;
    table->mapping = mapping.Get();
  }
  InterlockedIncrement(&table->users);
  g_state.mapping = mapping.Release();
  g_state.table.store(table, std::memory_order_release);
  if (created) RecordThreadInfo(GetCurrentThreadId(), nullptr, "main thread", 0, 0, "");
  return true;
}

bool ThreadTableOpen() { return g_state.table != nullptr; }

HANDLE WatchdogMutex() { return Table() ? Table()->watchdogMutex : nullptr; }

void CloseThreadTable() {
  if (!Table()) return;
  if (InterlockedDecrement(&Table()->users) == 0) {
    UnregisterThread(GetCurrentThreadId());
  }
  // The mapping stays valid for the process: other copies and late
  // destructors may still name threads.
}

void RecordThreadInfo(DWORD threadId, HANDLE threadHandle, const std::string& name, DWORD creatorThreadId,
                      uint32_t creatorAddress, const std::string& className) {
  TScopedHandle given(threadHandle);  // the registry's, used or closed
  if (!g_state.table) return;
  const bool remove = name.empty() && className.empty() && !threadHandle && !creatorAddress && !creatorThreadId;
  TTableLock lock(INFINITE);
  if (!lock.Locked()) return;
  TThreadEntry** link = &Table()->head;
  while (*link && (*link)->id != threadId) link = &(*link)->next;
  TThreadEntry* old = *link;
  if (old) *link = old->next;
  // The entry of a thread that has ended passes nothing on: its id may be
  // in use by a new thread.
  const bool oldHasHandle = old && EntrySize(old) >= 28 && old->handle;
  if (oldHasHandle && WaitForSingleObject(old->handle, 0) == WAIT_OBJECT_0) {
    FreeEntry(old);
    old = nullptr;
  }
  if (remove) {
    if (old) FreeEntry(old);
    PurgeOneEnded();
    return;
  }
  // The handle tells when the thread ends: the old entry's, the given one,
  // or one opened by id. Without one the thread is not registered.
  TScopedHandle handle;
  if (old && EntrySize(old) >= 28 && old->handle) {
    handle.Reset(old->handle);
    old->handle = nullptr;
  } else if (given) {
    handle.Reset(given.Release());
  } else {
    handle.Reset(OpenThread(SYNCHRONIZE | THREAD_QUERY_INFORMATION, FALSE, threadId));
  }
  auto* e = handle ? static_cast<TThreadEntry*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(TThreadEntry)))
                   : nullptr;
  if (e) {
    e->id = threadId;
    e->name = HeapText(!name.empty() || !old || !old->name ? name : std::string(old->name));
    const bool oldFull = old && EntrySize(old) >= 24;
    e->className = HeapText(!className.empty() || !oldFull || !old->className ? className : std::string(old->className));
    e->creatorAddress = creatorAddress ? creatorAddress : oldFull ? old->creatorAddress : 0;
    e->creatorThreadId = creatorThreadId ? creatorThreadId : oldFull ? old->creatorThreadId : 0;
    e->handle = handle.Release();
    e->next = Table()->head;
    Table()->head = e;
  }
  if (old) FreeEntry(old);
  PurgeOneEnded();
}

void UnregisterThread(DWORD threadId) { RecordThreadInfo(threadId, nullptr, "", 0, 0, ""); }

namespace {

constexpr DWORD kThreadNamingException = 0x406D1388;

// Swallows the naming exception once the debugger has seen it (a debugger
// that passes it on would otherwise leave it unhandled).
LONG CALLBACK SwallowNaming(EXCEPTION_POINTERS* info) {
  return info->ExceptionRecord->ExceptionCode == kThreadNamingException ? EXCEPTION_CONTINUE_EXECUTION
                                                                        : EXCEPTION_CONTINUE_SEARCH;
}

// The debugger's way of learning a thread's name: information type 0x1000,
// the name, the thread id, flags 0.
void TellDebugger(DWORD threadId, const std::string& name) {
  PVOID handler = AddVectoredExceptionHandler(1, SwallowNaming);
  if (!handler) return;
  const ULONG_PTR info[4] = {0x1000, reinterpret_cast<ULONG_PTR>(name.c_str()), threadId, 0};
  RaiseException(kThreadNamingException, 0, 4, info);
  RemoveVectoredExceptionHandler(handler);
}

}  // namespace

void AssignThreadName(DWORD threadId, const std::string& name) {
  if (IsDebuggerPresent()) TellDebugger(threadId, name);
  if (!g_state.table) return;
  TThreadInfo old;
  LookupThread(threadId, old, INFINITE);
  RecordThreadInfo(threadId, nullptr, name.empty() && !old.registered ? std::string() : name, 0, 0, old.className);
}

bool LookupThread(DWORD threadId, TThreadInfo& info, DWORD waitMs) {
  info = TThreadInfo();
  if (!g_state.table) return true;
  TTableLock lock(waitMs);
  if (!lock.Locked()) return false;
  for (TThreadEntry* e = Table()->head; e; e = e->next) {
    if (e->id != threadId) continue;
    info.registered = true;
    if (e->name) info.name = e->name;
    if (EntrySize(e) >= 24) {
      if (e->className) info.className = e->className;
      info.creatorAddress = e->creatorAddress;
      info.creatorThreadId = e->creatorThreadId;
    }
    break;
  }
  return true;
}

std::vector<DWORD> ThreadIds() {
  std::vector<DWORD> ids;
  TScopedHandle snap(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
  if (!snap) return ids;
  THREADENTRY32 te;
  te.dwSize = sizeof te;
  const DWORD pid = GetCurrentProcessId();
  for (BOOL ok = Thread32First(snap.Get(), &te); ok; ok = Thread32Next(snap.Get(), &te))
    if (te.th32OwnerProcessID == pid) ids.push_back(te.th32ThreadID);
  return ids;
}

}  // namespace kestrix
