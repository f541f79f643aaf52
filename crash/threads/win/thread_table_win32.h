// The per-process thread registry "KestrixThreadNameBuf$<pid>": names,
// classes and creators of threads, shared by every copy of the library in
// the process through named shared memory.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace kestrix {

// Opens or creates the registry; newly created, it registers the calling
// thread as "main thread". False when it cannot be had.
bool OpenThreadTable();
// Lowers the user count; the last user unregisters the calling thread and
// closes the registry.
void CloseThreadTable();
bool ThreadTableOpen();
// The unnamed mutex the freeze watchdog holds for its lifetime (one
// watchdog per process); null without a registry.
HANDLE WatchdogMutex();

// Registers or updates a thread; with an empty name and no class, creator
// or handle it unregisters the thread. The registry owns threadHandle
// (synchronise and query rights); without one the thread is opened by id,
// and a thread that cannot be opened (or has ended) is not registered.
// Pieces not given are kept from the thread's entry, unless that entry's
// thread has ended (a new thread with the same id inherits nothing).
void RecordThreadInfo(DWORD threadId, HANDLE threadHandle, const std::string& name, DWORD creatorThreadId,
                      uint32_t creatorAddress, const std::string& className);
void UnregisterThread(DWORD threadId);
// With a debugger attached it also raises the naming exception 0x406D1388
// (and swallows it), so that the debugger shows the name.
void AssignThreadName(DWORD threadId, const std::string& name);

struct TThreadInfo {
  bool registered = false;
  std::string name;
  std::string className;
  uint32_t creatorAddress = 0;
  DWORD creatorThreadId = 0;
};
// False when the registry could not be locked within waitMs.
bool LookupThread(DWORD threadId, TThreadInfo& info, DWORD waitMs = 50);

// Ids of all threads of the current process, in the order the system lists them.
std::vector<DWORD> ThreadIds();

}  // namespace kestrix
