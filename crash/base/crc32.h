// The CRC-32 of ISO-HDLC (zlib's, PNG's, ZIP's; reflected polynomial
// 0xEDB88320): the table and one step over bytes, without the initial and
// final inversion, which each format applies as it needs.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace kestrix {

constexpr std::array<uint32_t, 256> MakeCrc32Table() {
  std::array<uint32_t, 256> table{};
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[n] = c;
  }
  return table;
}
inline constexpr std::array<uint32_t, 256> kCrc32Table = MakeCrc32Table();

inline uint32_t Crc32Update(uint32_t value, const void* data, size_t size) {
  auto* p = static_cast<const uint8_t*>(data);
  for (size_t i = 0; i < size; ++i) value = kCrc32Table[(value ^ p[i]) & 0xFF] ^ (value >> 8);
  return value;
}

}  // namespace kestrix
