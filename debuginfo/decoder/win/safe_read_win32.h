// Guarded reads of the own process: the readable-region snapshot, a read
// that fails instead of faulting, and the memory reader over it.
#pragma once

#include <cstdint>

#include "debuginfo/decoder/memory_reader.h"
#include "debuginfo/decoder/readable_regions.h"

namespace kestrix::decoder {

// The regions of the address space below 2 GB.
TDATryRead TakeReadableRegions();

// count bytes from source, all or nothing. With regions, bytes outside the
// readable ones fail without a system call; without, the regions are
// queried.
bool SafeRead(uint32_t source, void* dest, uint32_t count, const TDATryRead* regions = nullptr);

class ProcessReader final : public MemoryReader {
 public:
  explicit ProcessReader(const TDATryRead* regions = nullptr) : regions_(regions) {}
  uint32_t Fetch(uint32_t address, uint8_t* scratch, uint32_t max, const uint8_t** out) const override;

 private:
  const TDATryRead* regions_;
};

}  // namespace kestrix::decoder
