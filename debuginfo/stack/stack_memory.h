// A copy of a thread's stack seen at the addresses it was copied from, over
// the memory of the process: the tracer reads a stack that has moved on
// (an exception caught and unwound, a thread resumed) as it was.
#pragma once

#include <cstdint>
#include <vector>

#include "debuginfo/decoder/memory_reader.h"

namespace kestrix::stack {

class StackCopyReader final : public decoder::MemoryReader {
 public:
  // base: the memory beyond the copy; the copy holds the bytes from `at` on.
  StackCopyReader(const decoder::MemoryReader& base, uint32_t at, std::vector<uint8_t> bytes)
      : base_(base), at_(at), bytes_(std::move(bytes)) {}
  uint32_t Fetch(uint32_t address, uint8_t* scratch, uint32_t max, const uint8_t** out) const override;
  uint32_t begin() const { return at_; }
  uint32_t end() const { return at_ + static_cast<uint32_t>(bytes_.size()); }

 private:
  const decoder::MemoryReader& base_;
  uint32_t at_;
  std::vector<uint8_t> bytes_;
};

}  // namespace kestrix::stack
