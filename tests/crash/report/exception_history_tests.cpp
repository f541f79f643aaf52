// The exception history: the ring of the newest exception times and when the
// automatic action is due.
#include "crash/report/exception_history.h"

#include <gtest/gtest.h>

namespace kestrix {
namespace {

TExceptionTimeRing Ring(uint64_t newest, int count, uint64_t step) {
  TExceptionTimeRing ring{};
  for (int i = count - 1; i >= 0; --i) PushExceptionTime(ring, newest - i * step);
  return ring;
}

TEST(HandlingRules, TimeRingKeepsTheTenNewestFirst) {
  TExceptionTimeRing ring{};
  for (uint64_t t = 1; t <= 12; ++t) PushExceptionTime(ring, t);
  EXPECT_EQ(ring[0], 12u);
  EXPECT_EQ(ring[9], 3u);
}

TEST(HandlingRules, AutoActionDue) {
  const uint64_t now = 13000000000ull;
  const TExceptionTimeRing ten = Ring(now, 10, 3);  // ten within 27 seconds
  EXPECT_FALSE(AutoActionDue(0, ten, now));
  EXPECT_TRUE(AutoActionDue(1, TExceptionTimeRing{}, now));
  EXPECT_TRUE(AutoActionDue(30, ten, now));
  EXPECT_TRUE(AutoActionDue(27, ten, now));
  EXPECT_FALSE(AutoActionDue(26, ten, now)) << "the oldest lies 27 seconds back";
  EXPECT_FALSE(AutoActionDue(30, Ring(now, 9, 3), now)) << "nine exceptions are not enough";
  EXPECT_FALSE(AutoActionDue(30, ten, now + 10)) << "time went on";
  EXPECT_FALSE(AutoActionDue(-5, ten, now));
}

TEST(HandlingRules, RestartBlockIsNamedByTheNewProcessInHexadecimal) {
  EXPECT_EQ(RestartBlockName(0x1f4), "KestrixRestart1f4");
  EXPECT_EQ(RestartBlockName(0xABCDEF01u), "KestrixRestartabcdef01");
}

}  // namespace
}  // namespace kestrix
