// Xiaolin Wu's colour quantiser (greedy orthogonal bipartition of the RGB
// cube for least variance) and the mapping of a picture onto its palette.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "report_ui/imaging/pixels.h"

namespace kestrix::imaging {

struct TRgb {
  uint8_t r = 0, g = 0, b = 0;
  friend bool operator==(const TRgb& x, const TRgb& y) { return x.r == y.r && x.g == y.g && x.b == y.b; }
};

// A palette image: one index per pixel, rows from the top down.
struct TIndexedImage {
  int width = 0, height = 0;
  int bitDepth = 8;              // 8: up to 256 entries; 4: up to 16
  std::vector<TRgb> palette;     // written as the PLTE chunk
  int usedEntries = 0;           // entries the quantiser found
  std::vector<uint8_t> indices;  // width * height
};

// Up to maxColours palette entries (the means of Wu's boxes) for the
// picture; fewer when the picture has fewer distinct 5-bit colours.
std::vector<TRgb> WuPalette(const TPixelView& pixels, int maxColours = 256);

// The 256-colour image: a picture of at most 256 distinct colours keeps
// them exactly; otherwise Wu's palette, every pixel mapped to its nearest
// entry (cached per 15-bit colour). The palette is padded to 256 entries.
TIndexedImage QuantizeTo256(const TPixelView& pixels);

// The entry with the smallest sum of absolute channel differences (the
// first on ties).
int NearestEntry(const std::vector<TRgb>& palette, int count, TRgb colour);

}  // namespace kestrix::imaging
