#include "crash/watchdog/freeze_rules.h"

#include <gtest/gtest.h>

namespace kestrix {
namespace {

// Rounds without answer until a freeze is due; the number of rounds.
int RoundsToFreeze(TFreezeCounter& c) {
  for (int n = 1; n <= 100; ++n)
    if (c.Round(false, c.Interval())) return n;
  return -1;
}

TEST(FreezeCounter, TenSilentProbesOfATenthMakeAFreezeAndEachNextReportComesHalfAgainLater) {
  TFreezeCounter c(60000);
  EXPECT_EQ(c.Interval(), 6000u);
  EXPECT_EQ(RoundsToFreeze(c), 10);
  c.Reported();
  EXPECT_EQ(c.Interval(), 9000u);
  EXPECT_EQ(RoundsToFreeze(c), 10);
  c.Reported();
  EXPECT_EQ(c.Interval(), 13500u);
  // An answer starts everything again.
  EXPECT_FALSE(c.Round(true, 10));
  EXPECT_EQ(c.Interval(), 6000u);
  EXPECT_EQ(c.Misses(), 0);
}

TEST(FreezeCounter, AnAnswerWithinTenProbesIsNeverAFreeze) {
  TFreezeCounter c(60000);
  for (int i = 0; i < 1000; ++i) {
    const bool answered = i % 9 == 8;
    ASSERT_FALSE(c.Round(answered, 6000)) << i;
  }
}

TEST(FreezeCounter, TheBuiltInDefaultOfSixtyGivesSixMillisecondsAndZeroNoBusyLoop) {
  EXPECT_EQ(TFreezeCounter(60).Interval(), 6u);
  EXPECT_EQ(TFreezeCounter(0).Interval(), 1u);
  EXPECT_EQ(TFreezeCounter(5).Interval(), 1u);
}

TEST(FreezeCounter, ARoundTheWatchdogItselfWasHeldUpInCountsForNothing) {
  TFreezeCounter c(2000);  // 200 ms
  for (int i = 0; i < 9; ++i) ASSERT_FALSE(c.Round(false, 200));
  // The machine was busy (or asleep) for five seconds: no verdict from that.
  EXPECT_FALSE(c.Round(false, 5000));
  EXPECT_EQ(c.Misses(), 9);
  // A little late is still a probe.
  EXPECT_TRUE(c.Round(false, 450));
}

TEST(FreezeCounter, ResetAfterAHandlingStartsTheCountAgain) {
  TFreezeCounter c(2000);
  for (int i = 0; i < 9; ++i) c.Round(false, 200);
  c.Reset();
  EXPECT_EQ(RoundsToFreeze(c), 10);
}

}  // namespace
}  // namespace kestrix
