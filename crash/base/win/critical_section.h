// Critical sections: an owned one usable with std::lock_guard, a guard for a
// section that lives elsewhere (in shared memory, in a system structure),
// the owner of such a section's initialization, and the process-wide lock
// of the handler, plug-in and callback lists.
#pragma once

#include <windows.h>

#include <utility>

#include "crash/base/win/scoped_resource.h"

namespace kestrix {

// A critical section usable with std::lock_guard.
class TCriticalSectionLock {
 public:
  TCriticalSectionLock() { InitializeCriticalSection(&cs_); }
  ~TCriticalSectionLock() { DeleteCriticalSection(&cs_); }
  TCriticalSectionLock(const TCriticalSectionLock&) = delete;
  TCriticalSectionLock& operator=(const TCriticalSectionLock&) = delete;
  void lock() { EnterCriticalSection(&cs_); }
  void unlock() { LeaveCriticalSection(&cs_); }

 private:
  CRITICAL_SECTION cs_;
};

// Holds a critical section that is not a TCriticalSectionLock from
// construction to destruction; a null section is not taken.
class TCriticalSectionGuard {
 public:
  explicit TCriticalSectionGuard(CRITICAL_SECTION* cs) : cs_(cs) {
    if (cs_) EnterCriticalSection(cs_);
  }
  TCriticalSectionGuard(TCriticalSectionGuard&& o) noexcept : cs_(std::exchange(o.cs_, nullptr)) {}
  TCriticalSectionGuard& operator=(TCriticalSectionGuard&&) = delete;
  TCriticalSectionGuard(const TCriticalSectionGuard&) = delete;
  TCriticalSectionGuard& operator=(const TCriticalSectionGuard&) = delete;
  ~TCriticalSectionGuard() { Unlock(); }
  // Leaves early; the destructor then does nothing.
  void Unlock() {
    if (cs_) LeaveCriticalSection(std::exchange(cs_, nullptr));
  }

 private:
  CRITICAL_SECTION* cs_;
};

// An initialized critical section that lives elsewhere (in a mapped view),
// deleted with DeleteCriticalSection when its owner goes.
struct TCriticalSectionTraits {
  using Type = CRITICAL_SECTION*;
  static constexpr CRITICAL_SECTION* Empty() { return nullptr; }
  static bool IsValid(CRITICAL_SECTION* cs) { return cs != nullptr; }
  static void Close(CRITICAL_SECTION* cs) { DeleteCriticalSection(cs); }
};
using TInitializedCriticalSection = TScoped<TCriticalSectionTraits>;

// A slim lock for leaked state structs: constant-initialized, so usable
// before any constructor runs, and without a destructor. Not recursive.
// Usable with std::lock_guard.
struct TSlimLock {
  SRWLOCK srw = SRWLOCK_INIT;
  void lock() { AcquireSRWLockExclusive(&srw); }
  void unlock() { ReleaseSRWLockExclusive(&srw); }
};

// The process-wide lock of the handler, plug-in and callback lists; it is
// never destroyed, so that reports at exit can still take it.
TCriticalSectionLock& HandlerLock();

}  // namespace kestrix
