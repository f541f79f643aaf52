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

// The same sum over a file read in parts, in order: every part but the last
// a multiple of four bytes long.
class TPeChecksum {
 public:
  explicit TPeChecksum(size_t checksumOffset);
  void Add(const uint8_t* data, size_t size);
  uint32_t Finish() const;

 private:
  uint64_t sum_ = 0;       // 32-bit words, then the 16-bit words of the end
  size_t length_ = 0;      // bytes added so far
  size_t bulkEnd_ = 0;     // where the 32-bit words end (set by the last part)
  size_t fieldStart_;      // the bytes of the words that start inside the field
  uint8_t field_[4] = {};  // those bytes as read
};

}  // namespace kestrix
