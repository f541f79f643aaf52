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
