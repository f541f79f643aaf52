// A process snapshot made by hand: threads, modules and memory blocks as a
// test sets them.
#pragma once

#include <cstring>
#include <map>
#include <vector>

#include "crash/report/process_snapshot.h"

namespace kestrix {

class TFakeSnapshot final : public IProcessSnapshot {
 public:
  std::vector<TSnapshotThread> threads;
  std::vector<TSnapshotModule> modules;
  std::map<uint32_t, std::vector<uint8_t>> memory;  // blocks by start address
  bool hasException = false;
  TSnapshotException exception;

  TSnapshotThread& Add(uint32_t id) {
    threads.emplace_back();
    threads.back().id = id;
    return threads.back();
  }
  uint32_t ProcessId() const override { return 0x100; }
  const std::vector<TSnapshotThread>& Threads() const override { return threads; }
  const std::vector<TSnapshotModule>& Modules() const override { return modules; }
  const TSnapshotException* Exception() const override { return hasException ? &exception : nullptr; }
  bool ReadMemory(uint32_t address, void* buffer, uint32_t size) const override {
    for (const auto& [start, bytes] : memory)
      if (address >= start && address - start <= bytes.size() && size <= bytes.size() - (address - start)) {
        std::memcpy(buffer, bytes.data() + (address - start), size);
        return true;
      }
    return false;
  }
};

}  // namespace kestrix
