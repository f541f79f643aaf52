// The online check's echo request and reply test; under Windows a real echo
// to this machine's loopback address.
#include <gtest/gtest.h>

#include "report_ui/delivery/icmp_echo.h"
#ifdef _WIN32
#include "report_ui/delivery/win/online_check.h"
#endif

namespace kestrix {
namespace {

std::vector<uint8_t> Reply(uint16_t id, uint16_t seq, uint8_t type = 0, size_t ipHeader = 20) {
  std::vector<uint8_t> p(ipHeader + 32, 0);
  p[0] = static_cast<uint8_t>(0x40 | (ipHeader / 4));
  p[9] = 1;
  p[ipHeader] = type;
  p[ipHeader + 4] = static_cast<uint8_t>(id >> 8);
  p[ipHeader + 5] = static_cast<uint8_t>(id);
  p[ipHeader + 6] = static_cast<uint8_t>(seq >> 8);
  p[ipHeader + 7] = static_cast<uint8_t>(seq);
  return p;
}

TEST(IcmpEcho, RequestAndChecksum) {
  const uint8_t rfc1071[] = {0x00, 0x01, 0xf2, 0x03, 0xf4, 0xf5, 0xf6, 0xf7};
  EXPECT_EQ(InternetChecksum(rfc1071, sizeof rfc1071), static_cast<uint16_t>(~0xddf2));
  const uint8_t odd[] = {0x12, 0x34, 0x56};
  EXPECT_EQ(InternetChecksum(odd, 3), static_cast<uint16_t>(~(0x1234 + 0x5600)));

  std::vector<uint8_t> r = IcmpEchoRequest(0x1234, 7);
  ASSERT_EQ(r.size(), 32u);
  EXPECT_EQ(r[0], 8);
  EXPECT_EQ(r[1], 0);
  EXPECT_EQ(r[4], 0x12);
  EXPECT_EQ(r[5], 0x34);
  EXPECT_EQ(r[7], 7);
  EXPECT_EQ(InternetChecksum(r.data(), r.size()), 0) << "a packet with its checksum sums to zero";
  EXPECT_EQ(std::vector<uint8_t>(r.begin() + 8, r.begin() + 12), (std::vector<uint8_t>{0xEF, 0xBE, 0xAD, 0xDE}));
}

TEST(IcmpEcho, OnlyTheMatchingReplyCounts) {
  std::vector<uint8_t> ok = Reply(0x1234, 7);
  EXPECT_TRUE(IsEchoReply(ok.data(), ok.size(), 0x1234, 7));
  std::vector<uint8_t> options = Reply(0x1234, 7, 0, 24);
  EXPECT_TRUE(IsEchoReply(options.data(), options.size(), 0x1234, 7));
  EXPECT_FALSE(IsEchoReply(ok.data(), ok.size(), 0x1234, 8));
  EXPECT_FALSE(IsEchoReply(ok.data(), ok.size(), 0x4321, 7));
  std::vector<uint8_t> request = Reply(0x1234, 7, 8);  // our own request seen on loopback
  EXPECT_FALSE(IsEchoReply(request.data(), request.size(), 0x1234, 7));
  EXPECT_FALSE(IsEchoReply(ok.data(), 27, 0x1234, 7)) << "cut short";
  ok[0] = 0x43;  // header length below 20
  EXPECT_FALSE(IsEchoReply(ok.data(), ok.size(), 0x1234, 7));
}

#ifdef _WIN32
TEST(IcmpEcho, LoopbackAnswers) { EXPECT_TRUE(PingHost("127.0.0.1")); }
#endif

}  // namespace
}  // namespace kestrix
