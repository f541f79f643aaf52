// Critical sections owned by RAII objects, and the process-wide lock of the
// handler, plug-in and callback lists.
#pragma once

#include <windows.h>

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

// The process-wide lock of the handler, plug-in and callback lists; it is
// never destroyed, so that reports at exit can still take it.
TCriticalSectionLock& HandlerLock();

}  // namespace kestrix
