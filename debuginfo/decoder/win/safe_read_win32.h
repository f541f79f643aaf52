// Guarded reads of the own process: the readable-region snapshot, a read
// that fails instead of faulting, and the memory reader over it.
#pragma once

#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

#include "debuginfo/decoder/memory_reader.h"
#include "debuginfo/decoder/readable_regions.h"

namespace kestrix::decoder {

// The regions of the address space below 2 GB.
TDATryRead TakeReadableRegions();

// count bytes from source, all or nothing. With regions, bytes outside the
// readable ones fail without a system call; without, the regions are
// queried.
bool SafeRead(uint32_t source, void* dest, uint32_t count, const TDATryRead* regions = nullptr);

// Reads of the own process a page at a time, each page once: a guarded
// read is a system call (a server round trip under Wine), and decoding
// reads every instruction. Read-only pages of module images are read in
// place, their modules held loaded while the reader lives; other pages
// (stacks, heap, writable data) are copied.
class ProcessReader final : public MemoryReader {
 public:
  explicit ProcessReader(const TDATryRead* regions = nullptr) : regions_(regions) {}
  ~ProcessReader() override;
  ProcessReader(const ProcessReader&) = delete;
  ProcessReader& operator=(const ProcessReader&) = delete;
  uint32_t Fetch(uint32_t address, uint8_t* scratch, uint32_t max, const uint8_t** out) const override;

 private:
  const uint8_t* Page(uint32_t at) const;
  const uint8_t* ImagePage(uint32_t at) const;

  const TDATryRead* regions_;
  mutable std::unordered_map<uint32_t, const uint8_t*> pages_;  // null: unreadable
  mutable std::vector<std::unique_ptr<uint8_t[]>> copies_;
  mutable std::vector<void*> heldModules_;
};

}  // namespace kestrix::decoder
