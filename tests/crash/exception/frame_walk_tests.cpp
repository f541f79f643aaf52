// The frame-pointer walk over a stack image.
#include <gtest/gtest.h>

#include <cstring>
#include <map>

#include "crash/exception/frame_walk.h"

namespace kestrix {
namespace {

// A stack image: address -> 32-bit word.
struct TStackImage {
  std::map<uint32_t, uint32_t> words;
  static bool Read(uint32_t address, void* dest, size_t count, void* self) {
    auto& w = static_cast<TStackImage*>(self)->words;
    for (size_t i = 0; i < count; i += 4) {
      auto it = w.find(address + static_cast<uint32_t>(i));
      if (it == w.end()) return false;
      std::memcpy(static_cast<uint8_t*>(dest) + i, &it->second, 4);
    }
    return true;
  }
};

TEST(FrameWalk, FollowsTheChainAndStopsWhereItBreaks) {
  TStackImage s;
  s.words = {{0x1000, 0x1020}, {0x1004, 0x401111}, {0x1020, 0x1100}, {0x1024, 0x402222},
             {0x1100, 0}, {0x1104, 0x403333}};
  uint32_t out[8];
  int n = WalkFrameChain(0x400000, 0x1000, TStackImage::Read, &s, out, 8);
  ASSERT_EQ(n, 4);
  EXPECT_EQ(out[0], 0x400000u);
  EXPECT_EQ(out[1], 0x401111u);
  EXPECT_EQ(out[2], 0x402222u);
  EXPECT_EQ(out[3], 0x403333u);
  EXPECT_EQ(WalkFrameChain(0x400000, 0x1000, TStackImage::Read, &s, out, 2), 2);
  EXPECT_EQ(WalkFrameChain(0x400000, 0x1000, TStackImage::Read, &s, out, 0), 0);
  // A frame pointing back down (a loop) ends the walk after its return address.
  s.words[0x1020] = 0x1000;
  EXPECT_EQ(WalkFrameChain(0x400000, 0x1000, TStackImage::Read, &s, out, 8), 3);
  // Unreadable, unaligned and null frames give the top address only.
  EXPECT_EQ(WalkFrameChain(0x400000, 0x5000, TStackImage::Read, &s, out, 8), 1);
  EXPECT_EQ(WalkFrameChain(0x400000, 0x1002, TStackImage::Read, &s, out, 8), 1);
  EXPECT_EQ(WalkFrameChain(0x400000, 0, TStackImage::Read, &s, out, 8), 1);
}

}  // namespace
}  // namespace kestrix
