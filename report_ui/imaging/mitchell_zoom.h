// Shrinking (and enlarging) a picture to fit a box, with the Mitchell-
// Netravali cubic filter (B = C = 1/3), for previews.
#pragma once

#include <cstdint>
#include <vector>

#include "report_ui/imaging/pixels.h"

namespace kestrix::imaging {

struct TSize {
  int width = 0, height = 0;
};

// The size that keeps the picture's aspect ratio and fits the box.
TSize FitIntoBox(int width, int height, int boxWidth, int boxHeight);

// The filter: k(x) for B = C = 1/3.
double MitchellKernel(double x);

// One destination pixel's source indices and 16.16 weights.
struct TContributions {
  std::vector<int> index;
  std::vector<int32_t> weight;
};
// The contributions for resampling an axis from source to destination
// samples; indices outside the source are mirrored back into it.
std::vector<TContributions> Contributions(int source, int destination);

// The picture resampled to width x height (rows bottom-up, 4 bytes a
// pixel). Empty when either size is not positive.
std::vector<uint8_t> Resample(const TPixelView& pixels, int width, int height);

}  // namespace kestrix::imaging
