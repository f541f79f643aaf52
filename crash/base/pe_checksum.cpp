#include "crash/base/pe_checksum.h"

#include <cstring>

namespace kestrix {

size_t PeChecksumOffset(const uint8_t* data, size_t size) {
  if (size < 0x40 || data[0] != 'M' || data[1] != 'Z') return 0;
  uint32_t peOffset;
  std::memcpy(&peOffset, data + 0x3C, 4);
  // "PE\0\0", the 20-byte file header, then CheckSum at 64 in the optional header.
  if (static_cast<uint64_t>(peOffset) + 24 + 68 > size || std::memcmp(data + peOffset, "PE\0\0", 4) != 0) return 0;
  return peOffset + 24 + 64;
}

uint32_t PeChecksum(const uint8_t* data, size_t size, size_t checksumOffset) {
  // The 16-bit words summed with end-around carry: the same as their plain
  // sum folded at the end, and as the sum of 32-bit words folded (2^16 is 1
  // modulo 0xFFFF), which runs at memory speed.
  uint64_t sum = 0;
  const size_t bulk = size & ~size_t(3);
  for (size_t i = 0; i < bulk; i += 4) {
    uint32_t dword;
    std::memcpy(&dword, data + i, 4);
    sum += dword;
  }
  auto word = [&](size_t i) {
    return static_cast<uint64_t>(data[i]) | (i + 1 < size ? static_cast<uint64_t>(data[i + 1]) << 8 : 0);
  };
  for (size_t i = bulk; i < size; i += 2) sum += word(i);
  // The checksum field (the words that start inside it) takes no part.
  for (size_t i = (checksumOffset + 1) & ~size_t(1); i < checksumOffset + 4 && i < size; i += 2)
    sum -= i < bulk && (i & 3) == 2 ? word(i) << 16 : word(i);
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<uint32_t>(sum) + static_cast<uint32_t>(size);
}

}  // namespace kestrix
