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
  TPeChecksum sum(checksumOffset);
  sum.Add(data, size);
  return sum.Finish();
}

// The 16-bit words summed with end-around carry: the same as their plain sum
// folded at the end, and as the sum of 32-bit words folded (2^16 is 1 modulo
// 0xFFFF), which runs at memory speed. A trailing part of fewer than four
// bytes counts as 16-bit words.
TPeChecksum::TPeChecksum(size_t checksumOffset) : fieldStart_((checksumOffset + 1) & ~size_t(1)) {}

void TPeChecksum::Add(const uint8_t* data, size_t size) {
  // The field's bytes, kept to be taken out again at the end.
  for (size_t i = 0; i < 4; ++i)
    if (fieldStart_ + i >= length_ && fieldStart_ + i < length_ + size) field_[i] = data[fieldStart_ + i - length_];
  const size_t bulk = size & ~size_t(3);
  uint64_t sum = 0;
  for (size_t i = 0; i < bulk; i += 4) {
    uint32_t dword;
    std::memcpy(&dword, data + i, 4);
    sum += dword;
  }
  for (size_t i = bulk; i < size; i += 2)
    sum += static_cast<uint64_t>(data[i]) | (i + 1 < size ? static_cast<uint64_t>(data[i + 1]) << 8 : 0);
  sum_ += sum;
  bulkEnd_ = length_ + bulk;
  length_ += size;
}

uint32_t TPeChecksum::Finish() const {
  // The field's words take no part: each byte out at the place it was
  // added (in a 32-bit word, or in a 16-bit word of the end).
  uint64_t sum = sum_;
  for (size_t i = 0; i < 4 && fieldStart_ + i < length_; ++i) {
    const size_t at = fieldStart_ + i;
    sum -= static_cast<uint64_t>(field_[i]) << (at < bulkEnd_ ? 8 * (at & 3) : 8 * (at & 1));
  }
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<uint32_t>(sum) + static_cast<uint32_t>(length_);
}

}  // namespace kestrix
