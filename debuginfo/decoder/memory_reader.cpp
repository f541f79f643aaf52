// The buffer reader and the all-or-nothing read over any reader.
#include "debuginfo/decoder/memory_reader.h"

#include <cstring>

namespace kestrix::decoder {

bool MemoryReader::Read(uint32_t address, void* dest, uint32_t count) const {
  auto* d = static_cast<uint8_t*>(dest);
  while (count > 0) {
    uint8_t scratch[64];
    uint32_t chunk = count < sizeof scratch ? count : static_cast<uint32_t>(sizeof scratch);
    const uint8_t* p = nullptr;
    if (Fetch(address, scratch, chunk, &p) != chunk) return false;
    std::memcpy(d, p, chunk);
    d += chunk;
    address += chunk;
    count -= chunk;
  }
  return true;
}

uint32_t BufferReader::Fetch(uint32_t address, uint8_t*, uint32_t max, const uint8_t** out) const {
  uint32_t offset = address - base_;
  if (offset >= size_) return 0;
  size_t left = size_ - offset;
  *out = data_ + offset;
  return left < max ? static_cast<uint32_t>(left) : max;
}

}  // namespace kestrix::decoder
