// The readable-region snapshot: merging, lookup, and which protections
// count as readable.
#include <gtest/gtest.h>

#include "debuginfo/decoder/readable_regions.h"

namespace kestrix::decoder {
namespace {

TEST(ReadableRegions, AdjacentRegionsOfTheSameKindMerge) {
  TDATryRead r;
  r.Add(0x0000, 0x1000, false);
  r.Add(0x1000, 0x2000, true);
  r.Add(0x2000, 0x5000, true);
  r.Add(0x5000, 0x6000, false);
  r.Add(0x7000, 0x8000, false);  // a gap: no merge
  ASSERT_EQ(r.size(), 4u);
  EXPECT_EQ(r[1].begin, 0x1000u);
  EXPECT_EQ(r[1].end, 0x5000u);
}

TEST(ReadableRegions, LookupByBinarySearch) {
  TDATryRead r;
  for (uint32_t i = 0; i < 1000; ++i) r.Add(i * 0x2000 + 0x1000, i * 0x2000 + 0x2000, i % 3 != 0);
  EXPECT_FALSE(r.IsReadable(0x1000));           // i = 0
  EXPECT_TRUE(r.IsReadable(0x3000));            // i = 1
  EXPECT_TRUE(r.IsReadable(0x3FFF));
  EXPECT_FALSE(r.IsReadable(0x4000));           // the gap
  EXPECT_FALSE(r.IsReadable(0x0));
  EXPECT_EQ(r.Find(0x4000), nullptr);
  EXPECT_EQ(r.Find(999 * 0x2000 + 0x2000), nullptr);  // past the last
  EXPECT_TRUE(r.IsReadable(998 * 0x2000 + 0x1FFF));   // 998 % 3 != 0
}

TEST(ReadableRegions, ARangeMustBeReadableThroughout) {
  TDATryRead r;
  r.Add(0x1000, 0x2000, true);
  r.Add(0x2000, 0x3000, false);
  r.Add(0x3000, 0x4000, true);
  r.Add(0x5000, 0x6000, true);
  EXPECT_TRUE(r.IsRangeReadable(0x1000, 0x1000));
  EXPECT_FALSE(r.IsRangeReadable(0x1FFE, 4));  // into the unreadable region
  EXPECT_FALSE(r.IsRangeReadable(0x3FFE, 4));  // into the gap
  EXPECT_TRUE(r.IsRangeReadable(0x3FFC, 4));
  EXPECT_FALSE(r.IsRangeReadable(0xFFFFFFFE, 4));  // wraps
  EXPECT_TRUE(r.IsRangeReadable(0x2000, 0));
}

TEST(ReadableRegions, ProtectionRule) {
  constexpr uint32_t kCommit = 0x1000, kReserve = 0x2000;
  for (uint32_t p : {0x02u, 0x04u, 0x08u, 0x10u, 0x20u, 0x40u, 0x80u}) EXPECT_TRUE(IsReadableRegion(kCommit, p)) << p;
  EXPECT_FALSE(IsReadableRegion(kCommit, 0x01));          // no access
  EXPECT_FALSE(IsReadableRegion(kCommit, 0x04 | 0x100));  // guard page
  EXPECT_FALSE(IsReadableRegion(kCommit, 0x04 | 0x200));  // no cache
  EXPECT_FALSE(IsReadableRegion(kCommit, 0x20 | 0x400));  // write-combine
  EXPECT_FALSE(IsReadableRegion(kReserve, 0x04));
}

}  // namespace
}  // namespace kestrix::decoder
