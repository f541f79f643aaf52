// The PE checksum: the header field and the word sum.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "crash/base/pe_checksum.h"

namespace kestrix {
namespace {

std::vector<uint8_t> TinyImage(size_t size) {
  std::vector<uint8_t> image(size, 0);
  image[0] = 'M';
  image[1] = 'Z';
  image[0x3C] = 0x40;
  image[0x40] = 'P';
  image[0x41] = 'E';
  for (size_t i = 0x100; i < size; ++i) image[i] = static_cast<uint8_t>(i * 7);
  return image;
}

TEST(PeChecksum, HeaderFieldAndSum) {
  std::vector<uint8_t> image = TinyImage(0x201);
  const size_t offset = PeChecksumOffset(image.data(), image.size());
  EXPECT_EQ(offset, 0x40u + 24 + 64);
  // Independent sum: 16-bit words with end-around carry, field skipped.
  uint32_t sum = 0;
  for (size_t i = 0; i < image.size(); i += 2) {
    if (i >= offset && i < offset + 4) continue;
    sum += image[i] | (i + 1 < image.size() ? image[i + 1] << 8 : 0);
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  EXPECT_EQ(PeChecksum(image.data(), image.size(), offset), sum + image.size());
  // The stored value does not take part; any other byte does.
  const uint32_t before = PeChecksum(image.data(), image.size(), offset);
  image[offset] = 0xAB;
  EXPECT_EQ(PeChecksum(image.data(), image.size(), offset), before);
  image[0x180] ^= 1;
  EXPECT_NE(PeChecksum(image.data(), image.size(), offset), before);
  std::vector<uint8_t> notPe(0x200, 0);
  EXPECT_EQ(PeChecksumOffset(notPe.data(), notPe.size()), 0u);
}

TEST(PeChecksum, WordSumAtAnyLengthAndFieldPosition) {
  // Against the sum word by word, for every length and field position
  // modulo four, with sums that carry often (0xFF bytes) and all-zero data.
  auto reference = [](const std::vector<uint8_t>& d, size_t offset) {
    uint32_t sum = 0;
    for (size_t i = 0; i < d.size(); i += 2) {
      if (i >= offset && i < offset + 4) continue;
      sum += d[i] | (i + 1 < d.size() ? d[i + 1] << 8 : 0);
      sum = (sum & 0xFFFF) + (sum >> 16);
    }
    return sum + static_cast<uint32_t>(d.size());
  };
  for (size_t size = 96; size < 104; ++size)
    for (size_t offset = 88; offset < 92; ++offset)
      for (int fill : {0, 1, 2}) {
        std::vector<uint8_t> d(size);
        for (size_t i = 0; i < size; ++i)
          d[i] = fill == 0 ? 0 : fill == 1 ? 0xFF : static_cast<uint8_t>(i * 37 + 11);
        EXPECT_EQ(PeChecksum(d.data(), d.size(), offset), reference(d, offset)) << size << " " << offset << " " << fill;
      }
}

TEST(PeChecksum, FileReadInPartsSumsAsAWhole) {
  // Parts of every multiple of four up to 24 bytes, the field inside a part,
  // across a boundary and in the odd end, at every position modulo four.
  for (size_t size : {93u, 96u, 99u, 130u})
    for (size_t offset : {size_t{4}, size_t{86}, size_t{87}, size_t{88}, size_t{89}, size - 5, size - 3})
      for (size_t part = 4; part <= 24; part += 4) {
        std::vector<uint8_t> d(size);
        for (size_t i = 0; i < size; ++i) d[i] = static_cast<uint8_t>(i * 53 + 200);
        TPeChecksum sum(offset);
        for (size_t at = 0; at < size; at += part) sum.Add(d.data() + at, std::min(part, size - at));
        EXPECT_EQ(sum.Finish(), PeChecksum(d.data(), d.size(), offset)) << size << " " << offset << " " << part;
      }
}

}  // namespace
}  // namespace kestrix
