// The pixels of a 32-bit bitmap as the encoders see them: rows stored
// bottom-up, per pixel the bytes blue, green, red and one that is ignored.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kestrix::imaging {

struct TPixelView {
  int width = 0, height = 0;
  const uint8_t* bits = nullptr;  // width * height * 4 bytes

  // The pixel at (x, y), y counted from the top row.
  const uint8_t* At(int x, int y) const {
    return bits + (static_cast<size_t>(height - 1 - y) * static_cast<size_t>(width) + static_cast<size_t>(x)) * 4;
  }
  size_t ByteSize() const { return static_cast<size_t>(width) * static_cast<size_t>(height) * 4; }
};

// Bitmaps larger than this many pixels are not made (4 bytes each).
constexpr size_t kMaxPixels = size_t{1} << 26;

}  // namespace kestrix::imaging
