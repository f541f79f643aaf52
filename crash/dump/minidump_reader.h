// A minidump file read as a process snapshot: its threads with their
// registers and stacks, its modules, the exception and the memory it holds.
// Every offset and count is checked against the file: a truncated or
// damaged dump is refused with a message, never read past its end.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "crash/report/process_snapshot.h"

namespace kestrix {

class TMinidump final : public IProcessSnapshot {
 public:
  struct TStream {
    uint32_t type = 0, size = 0, rva = 0;
  };

  // Parses a whole dump file. False, with the reason in error, when it is
  // not a minidump of a 32-bit x86 process or a stream lies outside it.
  bool Load(std::vector<uint8_t> bytes, std::string* error);

  // The stream directory in file order.
  const std::vector<TStream>& Streams() const { return streams_; }
  // The first stream of that type, or null.
  const TStream* FindStream(uint32_t type) const;
  // The ANSI comment stream's text (up to its first zero byte).
  const std::string& Comment() const { return comment_; }
  uint32_t TimeStamp() const { return timeStamp_; }
  // Captured memory ranges, ascending: (address, size).
  std::vector<std::pair<uint32_t, uint32_t>> MemoryRanges() const;
  uint64_t CapturedBytes() const;
  // Up to max bytes at address, as far as one captured range goes: how many,
  // with *out pointing at them; 0 when address was not captured.
  uint32_t Readable(uint32_t address, uint32_t max, const uint8_t** out) const;

  // IProcessSnapshot
  uint32_t ProcessId() const override { return processId_; }
  const std::vector<TSnapshotThread>& Threads() const override { return threads_; }
  const std::vector<TSnapshotModule>& Modules() const override { return modules_; }
  const TSnapshotException* Exception() const override { return haveException_ ? &exception_ : nullptr; }
  bool ReadMemory(uint32_t address, void* buffer, uint32_t size) const override;

 private:
  struct TRange {
    uint32_t address = 0, size = 0;
    uint64_t offset = 0;  // in the file
  };
  bool ReadThreads(const TStream& s, std::string* error);
  bool ReadModules(const TStream& s, std::string* error);
  bool ReadMemoryList(const TStream& s, std::string* error);
  bool ReadMemory64List(const TStream& s, std::string* error);
  bool ReadException(const TStream& s, std::string* error);
  bool ReadContext(uint32_t size, uint32_t rva, TSnapshotRegisters* out, std::string* error) const;
  bool ReadName(uint32_t rva, std::string* out, std::string* error) const;
  bool AddRange(uint32_t address, uint64_t size, uint64_t offset, std::string* error);
  bool Inside(uint64_t offset, uint64_t size) const { return offset <= bytes_.size() && size <= bytes_.size() - offset; }

  std::vector<uint8_t> bytes_;
  std::vector<TStream> streams_;
  std::vector<TSnapshotThread> threads_;
  std::vector<TSnapshotModule> modules_;
  TSnapshotException exception_;
  bool haveException_ = false;
  std::vector<TRange> ranges_;  // sorted by address
  std::string comment_;
  uint32_t processId_ = 0, timeStamp_ = 0;
};

}  // namespace kestrix
