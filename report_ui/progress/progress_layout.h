// The progress window's arithmetic: areas with weights, the bar value, the
// window's layout and the picture's blending. No window system here.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kestrix {

struct ProgressArea {
  int64_t start;   // total weight of all earlier areas when it was added
  int64_t weight;
  std::string text;
};

class TProgressAreas {
 public:
  // An empty text repeats the last area's text.
  void Append(const std::string& text, int64_t weight);
  void Clear();
  int Count() const { return static_cast<int>(areas_.size()); }
  const ProgressArea& operator[](int i) const { return areas_[static_cast<size_t>(i)]; }
  int64_t TotalWeight() const { return total_; }
  // Bar value 0..1000 for a position 0..1000 within the active area;
  // -1 when there is nothing to show (no such area, no total weight).
  int BarValue(int active, int position) const;

 private:
  std::vector<ProgressArea> areas_;
  int64_t total_ = 0;
};

struct TRect {
  int x, y, width, height;
};

struct TProgressMetrics {
  int dialogFrameX, dialogFrameY;  // SM_CXDLGFRAME, SM_CYDLGFRAME
  int smallCaption;                // SM_CYSMCAPTION
  int vScrollWidth;                // SM_CXVSCROLL
};

struct TProgressLayout {
  bool picture;
  TRect pictureButton;  // meaningful with a picture
  TRect label;
  TRect bar;
  int windowWidth, windowHeight;
};

constexpr int kProgressTextWidth = 420;  // texts wrap at this width
constexpr int kPictureResourceSize = 40 + 32 * 32 * 4;

// Layout from the measured text box (largest over the remaining areas).
TProgressLayout ComputeProgressLayout(int textWidth, int textHeight, bool picture,
                                      const TProgressMetrics& metrics);

// One 32-bit pixel (0xAARRGGBB) blended over the face colour (0x00RRGGBB);
// the alpha byte of the result is 0.
uint32_t BlendPicturePixel(uint32_t pixel, uint32_t face);

}  // namespace kestrix
