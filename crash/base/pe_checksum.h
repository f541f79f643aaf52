// The PE image checksum: the file summed as little-endian 16-bit words with
// end-around carry (a trailing odd byte counts as a word), the 4-byte
// checksum field skipped, plus the file length.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kestrix {

// Offset of the optional header's CheckSum field; 0 when the data is not a
// PE image.
size_t PeChecksumOffset(const uint8_t* data, size_t size);
uint32_t PeChecksum(const uint8_t* data, size_t size, size_t checksumOffset);

}  // namespace kestrix
