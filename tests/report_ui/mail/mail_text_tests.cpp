// Mail texts, DNS messages and the reply reader: natively (sanitizers) and under Wine.
#include <gtest/gtest.h>

#include "report_ui/mail/dns_message.h"
#include "report_ui/mail/mail_text.h"
#include "report_ui/mail/smtp_reply.h"

namespace kestrix::mail {
namespace {

TEST(MailText, AddressesAndRecipients) {
  EXPECT_EQ(AngleAddress("a@b.test", false), "<a@b.test>");
  EXPECT_EQ(AngleAddress("Bug Desk <a@b.test>", false), "<a@b.test>");
  EXPECT_EQ(AngleAddress("Bug Desk <a@b.test>", true), "Bug Desk <a@b.test>");
  EXPECT_EQ(AngleAddress("a@b.test\r\nRCPT TO:x@y", false), "<a@b.testRCPT TO:x@y>");
  std::string list = " a@x.test ;b@y.test,, c@z.test ";
  EXPECT_EQ(NormalizeRecipients(list), 3);
  EXPECT_EQ(list, "a@x.test,b@y.test,c@z.test");
  EXPECT_EQ(SplitRecipients(";").size(), 0u);
}

TEST(MailText, DateMessageIdSubject) {
  EXPECT_EQ(MailDateText(1796573589), "6 Dec 2026 16:13:09 UT");
  EXPECT_EQ(MakeMessageId(0x01DD65A1B2C3D4E5ull), "<1DD65A1B2C3D4E5@Kestrix>");
  EXPECT_EQ(EncodeSubject("bug report"), "=?ISO-8859-1?Q?bug=20report?=");
  EXPECT_EQ(EncodeSubject("a=b\xe9"), "=?ISO-8859-1?Q?a=3Db=E9?=");
  // Long subjects become several encoded words, none over 75 characters,
  // never splitting an escape.
  const std::string folded = EncodeSubject(std::string(100, '\xe9'));
  size_t start = 0;
  int words = 0;
  while (start < folded.size()) {
    size_t end = folded.find("\r\n ", start);
    if (end == std::string::npos) end = folded.size();
    const std::string word = folded.substr(start, end - start);
    EXPECT_LE(word.size(), 75u);
    EXPECT_EQ(word.substr(word.size() - 5), "=E9?=");
    ++words;
    start = end + 3;
  }
  EXPECT_GT(words, 1);
}

TEST(MailText, DotStuffingAndLineLimits) {
  EXPECT_EQ(DotStuff("a\r\n.\r\n.b\r\nc."), "a\r\n..\r\n..b\r\nc.");
  EXPECT_EQ(DotStuff(".x\nbare\rcr"), "..x\r\nbare\r\ncr");
  EXPECT_FALSE(BodyNeedsQuotedPrintable(std::string(998, 'x')));
  const std::string longLine = std::string(3000, 'x') + "\r\n.tail";
  ASSERT_TRUE(BodyNeedsQuotedPrintable(longLine));
  const std::string part = MailBodyPart(longLine, false);
  EXPECT_NE(part.find("Content-Transfer-Encoding: quoted-printable"), std::string::npos);
  size_t lineLength = 0;
  for (char c : part) {
    lineLength = (c == '\n') ? 0 : lineLength + 1;
    ASSERT_LE(lineLength, 1000u);
  }
  EXPECT_EQ(MailBodyPart("x\r\n.", false), "\r\nx\r\n..");
}

TEST(MailText, AttachmentParts) {
  EXPECT_NE(AttachmentPartHeader("C:\\a\\Shot.PNG", "shot.png").find("Content-Type: image/png; name=\"shot.png\""),
            std::string::npos);
  EXPECT_NE(AttachmentPartHeader("r.txt", "a\"b\r\n.txt").find("filename=\"ab.txt\""), std::string::npos);
  const std::string data(58, 'q');
  EXPECT_EQ(Base64Line(data.data(), 57).size(), 78u);
  EXPECT_EQ(Base64Line(data.data() + 57, 1), "cQ==\r\n");
}

// A reply with the given records after the question of (name, type).
std::string Reply(uint16_t id, const std::string& name, uint16_t type, uint16_t answers, const std::string& records,
                  uint8_t rcode = 0) {
  std::string q = BuildDnsQuery(name, type, id);
  q[2] = '\x81';
  q[3] = static_cast<char>(0x80 | rcode);
  q[7] = static_cast<char>(answers);
  return q + records;
}

std::string Mx(uint16_t preference, const std::string& labels) {
  std::string data = std::string(1, static_cast<char>(preference >> 8)) + static_cast<char>(preference & 0xff) + labels;
  return std::string("\xc0\x0c\x00\x0f\x00\x01\x00\x00\x0e\x10\x00", 11) + static_cast<char>(data.size()) + data;
}

TEST(DnsMessage, QueryAndMxReply) {
  const std::string q = BuildDnsQuery("kx.test", kDnsTypeMx, 0x1234);
  EXPECT_EQ(q, std::string("\x12\x34\x01\x00\x00\x01\x00\x00\x00\x00\x00\x00\x02kx\x04test\x00\x00\x0f\x00\x01", 25));
  EXPECT_TRUE(BuildDnsQuery("a..b", kDnsTypeMx, 1).empty());
  EXPECT_TRUE(BuildDnsQuery(std::string(64, 'a') + ".test", kDnsTypeMx, 1).empty());

  // Preference 20 listed before 10: the preferred one comes first; the
  // second name is compressed onto the question.
  const std::string r = Reply(7, "kx.test", kDnsTypeMx, 2,
                              Mx(20, std::string("\x03mx2\xc0\x0c", 6)) + Mx(10, std::string("\x03mx1\x00", 5)));
  TDnsReply reply;
  ASSERT_TRUE(ParseDnsReply(reinterpret_cast<const uint8_t*>(r.data()), r.size(), 7, "KX.test", kDnsTypeMx, reply));
  EXPECT_EQ(RecordNames(reply.answers, kDnsTypeMx), (std::vector<std::string>{"mx1", "mx2.kx.test"}));
  // Another id, another question, a truncated record: no answer.
  EXPECT_FALSE(ParseDnsReply(reinterpret_cast<const uint8_t*>(r.data()), r.size(), 8, "kx.test", kDnsTypeMx, reply));
  EXPECT_FALSE(ParseDnsReply(reinterpret_cast<const uint8_t*>(r.data()), r.size(), 7, "kx.other", kDnsTypeMx, reply));
  EXPECT_FALSE(ParseDnsReply(reinterpret_cast<const uint8_t*>(r.data()), r.size() - 3, 7, "kx.test", kDnsTypeMx, reply));
}

TEST(DnsMessage, HostileNames) {
  TDnsReply reply;
  std::string name;
  size_t end = 0;
  // A pointer to itself, a pointer forward, a pointer past the end.
  for (const std::string& target : {std::string("\xc0\x29", 2), std::string("\xc0\x30", 2), std::string("\xff\xff", 2)}) {
    const std::string r = Reply(1, "kx.test", kDnsTypeMx, 1, Mx(1, std::string("\x01x", 2) + target));
    EXPECT_FALSE(ParseDnsReply(reinterpret_cast<const uint8_t*>(r.data()), r.size(), 1, "kx.test", kDnsTypeMx, reply));
  }
  // Two pointers pointing at each other.
  const std::string loop("\xc0\x02\xc0\x00", 4);
  EXPECT_FALSE(ReadDnsName(reinterpret_cast<const uint8_t*>(loop.data()), loop.size(), 2, name, end));
  // A label running past the end; a name over 255 bytes.
  const std::string cut("\x05" "ab", 3);
  EXPECT_FALSE(ReadDnsName(reinterpret_cast<const uint8_t*>(cut.data()), cut.size(), 0, name, end));
  std::string big;
  for (int i = 0; i < 5; ++i) big += std::string(1, 63) + std::string(63, 'a');
  big += '\0';
  EXPECT_FALSE(ReadDnsName(reinterpret_cast<const uint8_t*>(big.data()), big.size(), 0, name, end));
  // A server error is a reply without names.
  const std::string failed = Reply(3, "kx.test", kDnsTypeMx, 0, "", 3);
  ASSERT_TRUE(ParseDnsReply(reinterpret_cast<const uint8_t*>(failed.data()), failed.size(), 3, "kx.test", kDnsTypeMx, reply));
  EXPECT_EQ(reply.responseCode, 3);
  EXPECT_TRUE(reply.answers.empty());
}

TEST(DnsMessage, Domains) {
  EXPECT_EQ(MailDomain("Desk <bugs@mail.kx.test>"), "mail.kx.test");
  EXPECT_EQ(BaseDomain("a.b.c.d.kx.test"), "d.kx.test");
  EXPECT_EQ(BaseDomain("kx.test"), "kx.test");
}

TEST(SmtpReply, LinesCodesAndAuthLogin) {
  TReplyReader ehlo("250", true);
  EXPECT_EQ(ehlo.Feed("250-kx.test\r\n250-AUTH=LOGIN PL", 31), TReplyReader::rsMore);
  EXPECT_EQ(ehlo.Feed("AIN\r\n250 OK\r\n", 13), TReplyReader::rsDone);
  EXPECT_TRUE(ehlo.AuthLogin());
  TReplyReader plain("250", true);
  EXPECT_EQ(plain.Feed("250-x\r\n250 AUTH PLAIN\r\n", 23), TReplyReader::rsDone);
  EXPECT_FALSE(plain.AuthLogin());
  // Another code is read to the end of its reply, then fails; garbage fails at once.
  TReplyReader refused("250");
  EXPECT_EQ(refused.Feed("550-no\r\n", 8), TReplyReader::rsMore);
  EXPECT_EQ(refused.Feed("550 no\r\n", 8), TReplyReader::rsFailed);
  TReplyReader garbage("220");
  EXPECT_EQ(garbage.Feed("hello there\r\n", 13), TReplyReader::rsFailed);
  TReplyReader flood("220");
  const std::string line = "220-" + std::string(1000, 'x') + "\r\n";
  TReplyReader::TState state = TReplyReader::rsMore;
  for (int i = 0; i < 100 && state == TReplyReader::rsMore; ++i) state = flood.Feed(line.data(), line.size());
  EXPECT_EQ(state, TReplyReader::rsFailed);
}

}  // namespace
}  // namespace kestrix::mail
