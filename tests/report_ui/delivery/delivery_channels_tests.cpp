// The delivery's channel order and the exception message taken from a report.
#include <gtest/gtest.h>

#include "report_ui/delivery/delivery_channels.h"

namespace kestrix {
namespace {

TEST(DeliveryChannels, OneNetworkChannelThenTheMailClient) {
  TChannelSwitches s;
  s.mailAsSmtpServer = s.mailAsSmtpClient = s.uploadViaHttp = true;
  s.mailViaMapi = s.mailViaMailto = true;
  EXPECT_EQ(ChannelOrder(s), (std::vector<TChannelKind>{ckSmtpServer, ckMapi, ckMailto}));
  s.mailAsSmtpServer = false;
  s.hidden = true;
  EXPECT_EQ(ChannelOrder(s), (std::vector<TChannelKind>{ckSmtpClient, ckMapi}));
  EXPECT_TRUE(ChannelOrder(TChannelSwitches()).empty());
  EXPECT_TRUE(IsNetworkChannel(ckHttpUpload));
  EXPECT_FALSE(IsNetworkChannel(ckMailto));
}

TEST(DeliveryChannels, ExceptionMessageOfAReport) {
  EXPECT_EQ(ReportExceptionMessage("date/time: x\r\nexception message  :  Division by zero. \r\nnext: y"),
            "Division by zero.");
  EXPECT_EQ(ReportExceptionMessage("date/time: x\r\nexception message: a: b"), "a: b");
  EXPECT_EQ(ReportExceptionMessage("exception message: first line is not a header line"), "");
}

}  // namespace
}  // namespace kestrix

namespace kestrix {
namespace {

TEST(DeliveryChannels, AttachmentsSharingAZipNameBecomeOneArchive) {
  const std::vector<TAttachmentEntry> entries = {
      {"C:\\t\\bugreport.txt", "bugreport.txt", "BugReport", "Report.zip"},
      {"C:\\t\\screenShot.png", "screenshot.png", "ScreenShot", ""},
      {"C:\\more\\log.txt", "log.txt", "Log", "report.ZIP"},
      {"C:\\more\\other.dat", "other.dat", "Other", "other.zip"},
  };
  const std::vector<TAttachmentStep> steps = PlanAttachments(entries, "C:\\t\\");
  ASSERT_EQ(steps.size(), 3u);
  // The archive stands where its first member stood and carries all members.
  EXPECT_EQ(steps[0].file, "C:\\t\\Report.zip");
  EXPECT_EQ(steps[0].sendAs, "Report.zip");
  EXPECT_EQ(steps[0].fieldName, "Report.zip");
  ASSERT_EQ(steps[0].members.size(), 2u);
  EXPECT_EQ(steps[0].members[0].file, "C:\\t\\bugreport.txt");
  EXPECT_EQ(steps[0].members[1].sendAs, "log.txt");
  EXPECT_EQ(steps[1].file, "C:\\t\\screenShot.png");
  EXPECT_EQ(steps[1].fieldName, "ScreenShot");
  EXPECT_TRUE(steps[1].members.empty());
  EXPECT_EQ(steps[2].file, "C:\\t\\other.zip");
  ASSERT_EQ(steps[2].members.size(), 1u);
  EXPECT_TRUE(PlanAttachments({}, "C:\\t\\").empty());
}

}  // namespace
}  // namespace kestrix
