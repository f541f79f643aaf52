#include "report_ui/progress/progress_layout.h"

#include <algorithm>

namespace kestrix {

void TProgressAreas::Append(const std::string& text, int64_t weight) {
  std::string shown = text.empty() && !areas_.empty() ? areas_.back().text : text;
  areas_.push_back({total_, weight, std::move(shown)});
  total_ += weight;
}

void TProgressAreas::Clear() {
  areas_.clear();
  total_ = 0;
}

int TProgressAreas::BarValue(int active, int position) const {
  if (active < 0 || active >= Count() || total_ <= 0) return -1;
  const ProgressArea& a = areas_[static_cast<size_t>(active)];
  int64_t value = ((a.weight * position) / 1000 + a.start) * 1000 / total_;
  return static_cast<int>(std::clamp<int64_t>(value, 0, 1000));
}

TProgressLayout ComputeProgressLayout(int textWidth, int textHeight, bool picture,
                                      const TProgressMetrics& m) {
  TProgressLayout l{};
  int width = textWidth, height = textHeight;
  l.picture = picture;
  if (picture) {
    width += 40;
    l.pictureButton = {9, 9, 32, 32};
  }
  width = std::max(width, 220);
  int x = 11, y = 12;
  if (picture) {
    x = 51;
    if (height < 26) {
      y = 12 + (26 - height) / 2;
      height = 26;
    }
  }
  l.label = {x, y, width, height};
  l.bar = {11, height + 24, width, m.vScrollWidth};
  l.windowWidth = width + 22 + 2 * m.dialogFrameX;
  l.windowHeight = height + 36 + m.smallCaption + m.vScrollWidth + 2 * m.dialogFrameY;
  return l;
}

uint32_t BlendPicturePixel(uint32_t pixel, uint32_t face) {
  uint32_t f = (pixel >> 24) + 1;
  uint32_t rb = (((256 - f) * (face & 0xFF00FF) + f * (pixel & 0xFF00FF)) >> 8) & 0xFF00FF;
  uint32_t g = (((256 - f) * (face & 0x00FF00) + f * (pixel & 0x00FF00)) >> 8) & 0x00FF00;
  return rb | g;
}

}  // namespace kestrix
