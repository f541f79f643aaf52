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
  uint64_t sum = 0;
  for (size_t i = 0; i < size; i += 2) {
    if (i >= checksumOffset && i < checksumOffset + 4) continue;
    uint32_t word = data[i];
    if (i + 1 < size) word |= static_cast<uint32_t>(data[i + 1]) << 8;
    sum += word;
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<uint32_t>(sum & 0xFFFF) + static_cast<uint32_t>(size);
}

}  // namespace kestrix
