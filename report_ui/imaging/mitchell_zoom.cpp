// Separable resampling: per destination column the source rows are filtered
// horizontally into a column buffer, which is then filtered vertically.
#include "report_ui/imaging/mitchell_zoom.h"

#include <cmath>

namespace kestrix::imaging {
namespace {

int Mirror(int j, int size) {
  if (j < 0) j = -j;
  if (j >= size) j = 2 * size - 1 - j;
  // A tiny picture can mirror past its other end: clamp.
  if (j < 0) j = 0;
  if (j >= size) j = size - 1;
  return j;
}

uint8_t Clamp(int64_t sum) {
  const int64_t v = sum / 65536;
  return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
}

}  // namespace

TSize FitIntoBox(int width, int height, int boxWidth, int boxHeight) {
  if (width <= 0 || height <= 0 || boxWidth <= 0 || boxHeight <= 0) return {};
  const int64_t w = width, h = height, bw = boxWidth, bh = boxHeight;
  TSize size{boxWidth, boxHeight};
  if (w * bh / h > bw || h * bw / w > bh) {
    if (h * 65536 / bh > w * 65536 / bw) {
      size.width = static_cast<int>(w * bh / h);
    } else {
      size.height = static_cast<int>(h * bw / w);
    }
  }
  if (size.width < 1) size.width = 1;
  if (size.height < 1) size.height = 1;
  return size;
}

double MitchellKernel(double x) {
  x = std::fabs(x);
  if (x < 1) return (7.0 / 6.0) * x * x * x - 2.0 * x * x + 8.0 / 9.0;
  if (x < 2) return -(7.0 / 18.0) * x * x * x + 2.0 * x * x - (10.0 / 3.0) * x + 16.0 / 9.0;
  return 0;
}

std::vector<TContributions> Contributions(int source, int destination) {
  std::vector<TContributions> all(destination > 0 ? destination : 0);
  if (source <= 0 || destination <= 0) return all;
  const int64_t s = source, d = destination;
  for (int64_t i = 0; i < d; ++i) {
    TContributions& c = all[static_cast<size_t>(i)];
    auto add = [&](int64_t j, double w) {
      const int32_t fixed = static_cast<int32_t>(std::lround(w * 65536.0));
      if (fixed == 0) return;
      c.index.push_back(Mirror(static_cast<int>(j), source));
      c.weight.push_back(fixed);
    };
    if (d >= s) {
      const double centre = static_cast<double>(i) * static_cast<double>(s) / static_cast<double>(d);
      for (int64_t j = (s * i - 3 * d + 1) / d; j <= (s * i + 3 * d - 1) / d; ++j)
        add(j, MitchellKernel(centre - static_cast<double>(j)));
    } else {
      const double scale = static_cast<double>(d) / static_cast<double>(s);
      for (int64_t j = (s * (i - 2) - d + 1) / d; j <= (s * (i + 2) + d - 1) / d; ++j)
        add(j, scale * MitchellKernel(static_cast<double>(i) - static_cast<double>(j) * scale));
    }
  }
  return all;
}

std::vector<uint8_t> Resample(const TPixelView& pixels, int width, int height) {
  std::vector<uint8_t> out;
  if (width <= 0 || height <= 0 || pixels.width <= 0 || pixels.height <= 0) return out;
  if (static_cast<uint64_t>(width) * static_cast<uint64_t>(height) > kMaxPixels) return out;
  const std::vector<TContributions> across = Contributions(pixels.width, width);
  const std::vector<TContributions> down = Contributions(pixels.height, height);
  out.resize(static_cast<size_t>(width) * static_cast<size_t>(height) * 4);
  std::vector<uint8_t> column(static_cast<size_t>(pixels.height) * 4);
  const size_t sourceRow = static_cast<size_t>(pixels.width) * 4;
  for (int x = 0; x < width; ++x) {
    const TContributions& h = across[static_cast<size_t>(x)];
    for (int y = 0; y < pixels.height; ++y) {
      const uint8_t* row = pixels.bits + static_cast<size_t>(y) * sourceRow;
      int64_t sum[3] = {0, 0, 0};
      for (size_t k = 0; k < h.index.size(); ++k) {
        const uint8_t* p = row + static_cast<size_t>(h.index[k]) * 4;
        for (int ch = 0; ch < 3; ++ch) sum[ch] += static_cast<int64_t>(p[ch]) * h.weight[k];
      }
      for (int ch = 0; ch < 3; ++ch) column[static_cast<size_t>(y) * 4 + ch] = Clamp(sum[ch]);
    }
    for (int y = 0; y < height; ++y) {
      const TContributions& v = down[static_cast<size_t>(y)];
      int64_t sum[3] = {0, 0, 0};
      for (size_t k = 0; k < v.index.size(); ++k) {
        const uint8_t* p = column.data() + static_cast<size_t>(v.index[k]) * 4;
        for (int ch = 0; ch < 3; ++ch) sum[ch] += static_cast<int64_t>(p[ch]) * v.weight[k];
      }
      uint8_t* o = out.data() + (static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)) * 4;
      for (int ch = 0; ch < 3; ++ch) o[ch] = Clamp(sum[ch]);
      o[3] = 0;
    }
  }
  return out;
}

}  // namespace kestrix::imaging
