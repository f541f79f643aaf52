#include "crash/exception/exception_filters.h"
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

TEST(HandlingRules, FilterGroupsByClassOrAncestor) {
  const std::vector<std::string> ancestry{"EDBEditError", "EDatabaseError", "Exception"};
  EXPECT_EQ(ChooseFilterGroup(ancestry, "EDBEditError", "Exception"), 1);
  EXPECT_EQ(ChooseFilterGroup(ancestry, "EFOpenError, EDatabaseError", "Exception"), 1);
  EXPECT_EQ(ChooseFilterGroup(ancestry, "EFOpenError", "Exception"), 2);
  EXPECT_EQ(ChooseFilterGroup(ancestry, "EFOpenError", ""), 0);
  EXPECT_EQ(ChooseFilterGroup(ancestry, "EDBEdit", "Error"), 0) << "names compare exactly";
  EXPECT_EQ(ChooseFilterGroup({}, "EDBEditError", ""), 0);
}

TEST(HandlingRules, FilterOptions) {
  TFilterGroupOptions o;
  o.noBugRep = true;
  o.noScrShot = false;
  o.noSuspend = true;
  o.noHandlers = true;
  o.showCfg = 3;
  o.assis = "A";
  TFilterResult r = ApplyFilterGroup(1, o, 8, true);
  EXPECT_FALSE(r.createBugReport);
  EXPECT_TRUE(r.createScreenshot);
  EXPECT_TRUE(r.attachScreenshot);
  EXPECT_FALSE(r.pauseThreads);
  EXPECT_FALSE(r.callHandlers);
  EXPECT_EQ(r.displayMode, 3);
  EXPECT_EQ(r.assistant, "A");
  r = ApplyFilterGroup(0, TFilterGroupOptions{}, 0, false);
  EXPECT_FALSE(r.createScreenshot) << "no screenshot without colour depth";
  EXPECT_FALSE(r.pauseThreads) << "PauseThreads off stays off";
  EXPECT_TRUE(r.createBugReport);
}

}  // namespace
}  // namespace kestrix
