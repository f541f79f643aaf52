// The snapshot of the running process a report is built from: each listed
// thread is held once, just long enough to copy its registers and stack.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

#include "crash/report/process_snapshot.h"

namespace kestrix {

class TLiveSnapshot final : public IProcessSnapshot {
 public:
  // Takes the threads `ids` (and the creators their registry entries name).
  // The calling thread gets its registry facts and priority only: it cannot
  // hold itself. `exceptionThreadId`'s registers and stack are the
  // exception's, kept by the exception record, and are not copied here.
  TLiveSnapshot(const std::vector<uint32_t>& ids, uint32_t exceptionThreadId);

  uint32_t ProcessId() const override { return processId_; }
  const std::vector<TSnapshotThread>& Threads() const override { return threads_; }
  // Modules are listed at the first call.
  const std::vector<TSnapshotModule>& Modules() const override;
  const TSnapshotException* Exception() const override { return nullptr; }
  // The copied stacks; elsewhere the process's memory, read guarded.
  bool ReadMemory(uint32_t address, void* buffer, uint32_t size) const override;

  // The copy of a thread's stack from its stack pointer on; null when none.
  const std::vector<uint8_t>* StackCopy(uint32_t threadId) const;

 private:
  struct TStackCopy {
    uint32_t threadId = 0, start = 0;
    std::vector<uint8_t> bytes;
  };
  void Take(uint32_t id, bool copyStack, std::vector<uint8_t>& scratch);

  uint32_t processId_ = 0;
  std::vector<TSnapshotThread> threads_;
  std::vector<TStackCopy> stacks_;
  mutable std::vector<TSnapshotModule> modules_;
  mutable bool modulesListed_ = false;
};

}  // namespace kestrix
