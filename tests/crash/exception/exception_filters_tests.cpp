// Exception filters: the group of an exception's class or ancestor, and
// what a group's options switch on and off.
#include "crash/exception/exception_filters.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kestrix {
namespace {

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
