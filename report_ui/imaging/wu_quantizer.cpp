// Wu's quantiser over a 33 x 33 x 33 histogram of 5-bit colours. Cell 0 of
// each axis stays empty so that cumulative moments need no edge cases; a
// box is the half-open range (r0, r1] x (g0, g1] x (b0, b1] of cells.
#include "report_ui/imaging/wu_quantizer.h"

#include <cstdlib>
#include <memory>
#include <unordered_map>

namespace kestrix::imaging {
namespace {

constexpr int kSide = 33;
constexpr int kCells = kSide * kSide * kSide;

constexpr int Cell(int r, int g, int b) { return r * kSide * kSide + g * kSide + b; }

// Pixel count, channel sums and the sum of squares per cell; 64-bit sums,
// so that a picture of any size allowed cannot overflow them.
struct TMoments {
  std::vector<int64_t> w, r, g, b;
  std::vector<double> sq;
  TMoments() : w(kCells), r(kCells), g(kCells), b(kCells), sq(kCells) {}
};

struct TBox {
  int r0 = 0, r1 = 0, g0 = 0, g1 = 0, b0 = 0, b1 = 0;
  int volume = 0;
};

enum TAxis { kRed, kGreen, kBlue };

template <class T>
T Volume(const TBox& c, const std::vector<T>& m) {
  return m[Cell(c.r1, c.g1, c.b1)] - m[Cell(c.r1, c.g1, c.b0)] - m[Cell(c.r1, c.g0, c.b1)] +
         m[Cell(c.r1, c.g0, c.b0)] - m[Cell(c.r0, c.g1, c.b1)] + m[Cell(c.r0, c.g1, c.b0)] +
         m[Cell(c.r0, c.g0, c.b1)] - m[Cell(c.r0, c.g0, c.b0)];
}

// The part of Volume that does not depend on the cut position along axis.
int64_t Bottom(const TBox& c, TAxis axis, const std::vector<int64_t>& m) {
  switch (axis) {
    case kRed:
      return -m[Cell(c.r0, c.g1, c.b1)] + m[Cell(c.r0, c.g1, c.b0)] + m[Cell(c.r0, c.g0, c.b1)] -
             m[Cell(c.r0, c.g0, c.b0)];
    case kGreen:
      return -m[Cell(c.r1, c.g0, c.b1)] + m[Cell(c.r1, c.g0, c.b0)] + m[Cell(c.r0, c.g0, c.b1)] -
             m[Cell(c.r0, c.g0, c.b0)];
    case kBlue:
      return -m[Cell(c.r1, c.g1, c.b0)] + m[Cell(c.r1, c.g0, c.b0)] + m[Cell(c.r0, c.g1, c.b0)] -
             m[Cell(c.r0, c.g0, c.b0)];
  }
  return 0;
}

// The part of Volume of the lower half when the box is cut at pos.
int64_t Top(const TBox& c, TAxis axis, int pos, const std::vector<int64_t>& m) {
  switch (axis) {
    case kRed:
      return m[Cell(pos, c.g1, c.b1)] - m[Cell(pos, c.g1, c.b0)] - m[Cell(pos, c.g0, c.b1)] + m[Cell(pos, c.g0, c.b0)];
    case kGreen:
      return m[Cell(c.r1, pos, c.b1)] - m[Cell(c.r1, pos, c.b0)] - m[Cell(c.r0, pos, c.b1)] + m[Cell(c.r0, pos, c.b0)];
    case kBlue:
      return m[Cell(c.r1, c.g1, pos)] - m[Cell(c.r1, c.g0, pos)] - m[Cell(c.r0, c.g1, pos)] + m[Cell(c.r0, c.g0, pos)];
  }
  return 0;
}

double Variance(const TBox& c, const TMoments& m) {
  const double r = static_cast<double>(Volume(c, m.r)), g = static_cast<double>(Volume(c, m.g)),
               b = static_cast<double>(Volume(c, m.b));
  const double w = static_cast<double>(Volume(c, m.w));
  if (w <= 0) return 0;
  return Volume(c, m.sq) - (r * r + g * g + b * b) / w;
}

struct TSums {
  int64_t w, r, g, b;
};

// The best cut of box c along axis within [first, last): the largest sum of
// the halves' squared-mean terms, and its position (-1: no cut).
double Maximize(const TBox& c, TAxis axis, int first, int last, int& cut, const TSums& whole, const TMoments& m) {
  const TSums base{Bottom(c, axis, m.w), Bottom(c, axis, m.r), Bottom(c, axis, m.g), Bottom(c, axis, m.b)};
  double best = 0;
  cut = -1;
  for (int i = first; i < last; ++i) {
    const TSums half{base.w + Top(c, axis, i, m.w), base.r + Top(c, axis, i, m.r), base.g + Top(c, axis, i, m.g),
                     base.b + Top(c, axis, i, m.b)};
    if (half.w == 0) continue;
    const TSums rest{whole.w - half.w, whole.r - half.r, whole.g - half.g, whole.b - half.b};
    if (rest.w == 0) continue;
    auto term = [](const TSums& s) {
      const double r = static_cast<double>(s.r), g = static_cast<double>(s.g), b = static_cast<double>(s.b);
      return (r * r + g * g + b * b) / static_cast<double>(s.w);
    };
    const double value = term(half) + term(rest);
    if (value > best) {
      best = value;
      cut = i;
    }
  }
  return best;
}

// Cuts box a in two (a keeps the lower part, b gets the upper); false when
// no cut splits its pixels.
bool CutBox(TBox& a, TBox& b, const TMoments& m) {
  const TSums whole{Volume(a, m.w), Volume(a, m.r), Volume(a, m.g), Volume(a, m.b)};
  int cutR, cutG, cutB;
  const double maxR = Maximize(a, kRed, a.r0 + 1, a.r1, cutR, whole, m);
  const double maxG = Maximize(a, kGreen, a.g0 + 1, a.g1, cutG, whole, m);
  const double maxB = Maximize(a, kBlue, a.b0 + 1, a.b1, cutB, whole, m);
  TAxis axis;
  if (maxR >= maxG && maxR >= maxB) {
    axis = kRed;
    if (cutR < 0) return false;
  } else {
    axis = maxG >= maxB ? kGreen : kBlue;
  }
  b.r1 = a.r1;
  b.g1 = a.g1;
  b.b1 = a.b1;
  b.r0 = a.r0;
  b.g0 = a.g0;
  b.b0 = a.b0;
  switch (axis) {
    case kRed:
      b.r0 = a.r1 = cutR;
      break;
    case kGreen:
      b.g0 = a.g1 = cutG;
      break;
    case kBlue:
      b.b0 = a.b1 = cutB;
      break;
  }
  a.volume = (a.r1 - a.r0) * (a.g1 - a.g0) * (a.b1 - a.b0);
  b.volume = (b.r1 - b.r0) * (b.g1 - b.g0) * (b.b1 - b.b0);
  return true;
}

void BuildHistogram(const TPixelView& pixels, TMoments& m) {
  const size_t count = static_cast<size_t>(pixels.width) * static_cast<size_t>(pixels.height);
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* p = pixels.bits + i * 4;
    const int b = p[0], g = p[1], r = p[2];
    const int cell = Cell((r >> 3) + 1, (g >> 3) + 1, (b >> 3) + 1);
    m.w[cell] += 1;
    m.r[cell] += r;
    m.g[cell] += g;
    m.b[cell] += b;
    m.sq[cell] += static_cast<double>(r * r + g * g + b * b);
  }
}

// Turns the per-cell moments into sums over the box (0, r] x (0, g] x (0, b].
template <class T>
void Accumulate(std::vector<T>& m) {
  for (int r = 1; r < kSide; ++r) {
    T area[kSide] = {};
    for (int g = 1; g < kSide; ++g) {
      T line = 0;
      for (int b = 1; b < kSide; ++b) {
        line += m[Cell(r, g, b)];
        area[b] += line;
        m[Cell(r, g, b)] = m[Cell(r - 1, g, b)] + area[b];
      }
    }
  }
}

}  // namespace

std::vector<TRgb> WuPalette(const TPixelView& pixels, int maxColours) {
  std::vector<TRgb> palette;
  if (maxColours < 1 || pixels.width <= 0 || pixels.height <= 0) return palette;
  auto m = std::make_unique<TMoments>();
  BuildHistogram(pixels, *m);
  Accumulate(m->w);
  Accumulate(m->r);
  Accumulate(m->g);
  Accumulate(m->b);
  Accumulate(m->sq);

  std::vector<TBox> boxes(maxColours);
  std::vector<double> variance(maxColours, 0.0);
  boxes[0].r1 = boxes[0].g1 = boxes[0].b1 = kSide - 1;
  boxes[0].volume = (kSide - 1) * (kSide - 1) * (kSide - 1);
  int count = 1;
  int next = 0;
  while (count < maxColours) {
    if (CutBox(boxes[next], boxes[count], *m)) {
      variance[next] = boxes[next].volume > 1 ? Variance(boxes[next], *m) : 0.0;
      variance[count] = boxes[count].volume > 1 ? Variance(boxes[count], *m) : 0.0;
      ++count;
    } else {
      variance[next] = 0.0;
    }
    next = 0;
    double largest = variance[0];
    for (int k = 1; k < count; ++k) {
      if (variance[k] > largest) {
        largest = variance[k];
        next = k;
      }
    }
    if (largest <= 0.0) break;
  }

  for (int k = 0; k < count; ++k) {
    const int64_t w = Volume(boxes[k], m->w);
    if (w <= 0) {
      palette.push_back(TRgb{});
      continue;
    }
    palette.push_back(TRgb{static_cast<uint8_t>(Volume(boxes[k], m->r) / w),
                           static_cast<uint8_t>(Volume(boxes[k], m->g) / w),
                           static_cast<uint8_t>(Volume(boxes[k], m->b) / w)});
  }
  return palette;
}

int NearestEntry(const std::vector<TRgb>& palette, int count, TRgb colour) {
  int best = 0, bestDistance = 1 << 30;
  for (int i = 0; i < count; ++i) {
    const TRgb& p = palette[i];
    const int d = std::abs(p.r - colour.r) + std::abs(p.g - colour.g) + std::abs(p.b - colour.b);
    if (d < bestDistance) {
      bestDistance = d;
      best = i;
    }
  }
  return best;
}

namespace {

uint32_t Rgb(const uint8_t* p) { return (uint32_t{p[2]} << 16) | (uint32_t{p[1]} << 8) | p[0]; }

// A picture of at most 256 distinct colours keeps them exactly, in the
// order they are first met; false (and image untouched) for more.
bool ExactPalette(const TPixelView& pixels, TIndexedImage& image) {
  std::unordered_map<uint32_t, uint8_t> entries;
  entries.reserve(512);
  std::vector<TRgb> palette;
  std::vector<uint8_t> indices(static_cast<size_t>(pixels.width) * static_cast<size_t>(pixels.height));
  uint8_t* out = indices.data();
  uint32_t last = 0;
  uint8_t lastIndex = 0;
  bool any = false;
  for (int y = 0; y < pixels.height; ++y) {
    const uint8_t* p = pixels.At(0, y);
    for (int x = 0; x < pixels.width; ++x, p += 4) {
      const uint32_t colour = Rgb(p);
      if (!any || colour != last) {
        auto found = entries.find(colour);
        if (found == entries.end()) {
          if (palette.size() == 256) return false;
          found = entries.emplace(colour, static_cast<uint8_t>(palette.size())).first;
          palette.push_back(TRgb{p[2], p[1], p[0]});
        }
        last = colour;
        lastIndex = found->second;
        any = true;
      }
      *out++ = lastIndex;
    }
  }
  image.usedEntries = static_cast<int>(palette.size());
  image.palette = std::move(palette);
  image.palette.resize(256);
  image.indices = std::move(indices);
  return true;
}

}  // namespace

TIndexedImage QuantizeTo256(const TPixelView& pixels) {
  TIndexedImage image;
  image.width = pixels.width;
  image.height = pixels.height;
  image.bitDepth = 8;
  if (pixels.width > 0 && pixels.height > 0 && ExactPalette(pixels, image)) return image;
  image.palette = WuPalette(pixels, 256);
  image.usedEntries = static_cast<int>(image.palette.size());
  const int used = image.usedEntries;
  image.palette.resize(256);
  if (pixels.width <= 0 || pixels.height <= 0) return image;

  // Nearest entry per 15-bit colour, found once; -1: not yet looked up.
  std::vector<int16_t> cache(32768, -1);
  image.indices.resize(static_cast<size_t>(pixels.width) * static_cast<size_t>(pixels.height));
  uint8_t* out = image.indices.data();
  for (int y = 0; y < pixels.height; ++y) {
    const uint8_t* p = pixels.At(0, y);
    for (int x = 0; x < pixels.width; ++x, p += 4) {
      const int key = ((p[2] >> 3) << 10) | ((p[1] >> 3) << 5) | (p[0] >> 3);
      int16_t& entry = cache[key];
      if (entry < 0) {
        // The centre of the 5-bit cell stands for every colour in it.
        const TRgb centre{static_cast<uint8_t>((p[2] & 0xF8) | 4), static_cast<uint8_t>((p[1] & 0xF8) | 4),
                          static_cast<uint8_t>((p[0] & 0xF8) | 4)};
        entry = static_cast<int16_t>(NearestEntry(image.palette, used, centre));
      }
      *out++ = static_cast<uint8_t>(entry);
    }
  }
  return image;
}

}  // namespace kestrix::imaging
