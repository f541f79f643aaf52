// The progress window's arithmetic: areas, bar values, layout, blending.
#include <gtest/gtest.h>

#include "report_ui/progress/progress_layout.h"

namespace kestrix {
namespace {

TEST(ProgressAreas, WeightsStartsAndBarValues) {
  TProgressAreas a;
  EXPECT_EQ(a.BarValue(0, 500), -1);  // nothing to show
  a.Append("Connecting to server...", 100);
  a.Append("", 100);
  a.Append("Sending mail...", 800);
  EXPECT_EQ(a.TotalWeight(), 1000);
  EXPECT_EQ(a[1].start, 100);
  EXPECT_EQ(a[2].start, 200);
  EXPECT_EQ(a[1].text, "Connecting to server...");  // empty text repeats the last
  EXPECT_EQ(a.BarValue(1, 500), 150);
  EXPECT_EQ(a.BarValue(0, 0), 0);
  EXPECT_EQ(a.BarValue(2, 1000), 1000);
  EXPECT_EQ(a.BarValue(3, 0), -1);
  a.Clear();
  EXPECT_EQ(a.Count(), 0);
  EXPECT_EQ(a.TotalWeight(), 0);
  a.Append("", 5);
  EXPECT_EQ(a[0].text, "");
}

TEST(ProgressAreas, LargeWeightsStayIn64Bits) {
  TProgressAreas a;
  a.Append("a", 4000000000LL);
  a.Append("b", 4000000000LL);
  EXPECT_EQ(a.BarValue(1, 500), 750);
  EXPECT_EQ(a.BarValue(0, 1000), 500);
}

TEST(ProgressLayout, WithoutPicture) {
  TProgressMetrics m{3, 3, 15, 17};
  TProgressLayout l = ComputeProgressLayout(100, 13, false, m);
  EXPECT_FALSE(l.picture);
  EXPECT_EQ(l.label.x, 11);
  EXPECT_EQ(l.label.y, 12);
  EXPECT_EQ(l.label.width, 220);  // at least 220
  EXPECT_EQ(l.label.height, 13);
  EXPECT_EQ(l.bar.x, 11);
  EXPECT_EQ(l.bar.y, 13 + 24);
  EXPECT_EQ(l.bar.width, 220);
  EXPECT_EQ(l.bar.height, 17);
  EXPECT_EQ(l.windowWidth, 220 + 22 + 6);
  EXPECT_EQ(l.windowHeight, 13 + 36 + 15 + 17 + 6);
  EXPECT_EQ(ComputeProgressLayout(400, 52, false, m).label.width, 400);
}

TEST(ProgressLayout, WithPicture) {
  TProgressMetrics m{3, 3, 15, 17};
  TProgressLayout l = ComputeProgressLayout(300, 13, true, m);
  EXPECT_EQ(l.pictureButton.x, 9);
  EXPECT_EQ(l.pictureButton.y, 9);
  EXPECT_EQ(l.pictureButton.width, 32);
  EXPECT_EQ(l.label.x, 51);
  EXPECT_EQ(l.label.y, 12 + (26 - 13) / 2);
  EXPECT_EQ(l.label.height, 26);
  EXPECT_EQ(l.label.width, 340);
  EXPECT_EQ(l.bar.y, 26 + 24);
  TProgressLayout tall = ComputeProgressLayout(300, 39, true, m);
  EXPECT_EQ(tall.label.y, 12);
  EXPECT_EQ(tall.label.height, 39);
}

TEST(PictureBlending, AlphaOverFace) {
  const uint32_t face = 0xD4D0C8;
  EXPECT_EQ(BlendPicturePixel(0xFF123456, face), 0x123456u);  // opaque: the pixel
  EXPECT_EQ(BlendPicturePixel(0x00FFFFFF, face), face);  // f = 1: (255 * face + pixel) / 256
  EXPECT_EQ(BlendPicturePixel(0x00000000, 0xFFFFFF), 0xFEFEFEu);
  // Half: each channel ((256 - 128) * face + 128 * pixel) / 256.
  uint32_t half = BlendPicturePixel(0x7F000000, face);
  EXPECT_EQ(half, ((0xD4u * 128 / 256) << 16) | ((0xD0u * 128 / 256) << 8) | (0xC8u * 128 / 256));
  EXPECT_EQ(BlendPicturePixel(0xFFFFFFFF, 0xFFFFFF) >> 24, 0u);
}

}  // namespace
}  // namespace kestrix
