// BMP files: the image of a 32-bit bitmap, and reading a BMP file that may
// come from anywhere (the user's picture editor, a damaged disk).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "report_ui/imaging/pixels.h"

namespace kestrix::imaging {

// "BM", file size, reserved words, offset 54, the 40-byte header (32 bits
// per pixel, no compression, rows bottom-up) and the pixel bits.
std::vector<uint8_t> BmpFileImage(const TPixelView& pixels);

// A decoded BMP file: 32-bit pixels, rows bottom-up.
struct TDecodedBmp {
  int width = 0, height = 0;
  std::vector<uint8_t> bits;
};

// Reads an uncompressed BMP of 1, 4, 8, 16, 24 or 32 bits per pixel (16
// and 32 bits also with bit-field masks), rows either way round, with any
// of the usual info headers. False with the reason in error for anything
// else or anything damaged; never reads past size.
bool DecodeBmp(const uint8_t* data, size_t size, TDecodedBmp& out, std::string& error);

}  // namespace kestrix::imaging
