// The mail client channels' portable parts: MAPI recipients and results,
// the "mailto:" link and the command line that carries it.
#include <gtest/gtest.h>

#include <set>

#include "report_ui/delivery/mail_client.h"

namespace kestrix {
namespace {

TEST(MapiMail, RecipientsSplitIntoNameAndSmtpAddress) {
  const std::vector<TMapiRecipient> to =
      MapiRecipients(" Ann Smith <ann@x.test> ; bob@y.test,,<carl@z.test>, Dora <dora@w.test");
  ASSERT_EQ(to.size(), 4u);
  EXPECT_EQ(to[0].name, "Ann Smith");
  EXPECT_EQ(to[0].address, "SMTP:ann@x.test");
  EXPECT_EQ(to[1].name, "bob@y.test") << "a bare address is its own name";
  EXPECT_EQ(to[1].address, "SMTP:bob@y.test");
  EXPECT_EQ(to[2].name, "carl@z.test") << "no empty display name";
  EXPECT_EQ(to[2].address, "SMTP:carl@z.test");
  EXPECT_EQ(to[3].address, "SMTP:dora@w.test") << "an unclosed bracket runs to the end";
  EXPECT_TRUE(MapiRecipients(" ; , ").empty());
}

TEST(MapiMail, ResultCodes) {
  EXPECT_EQ(MapiSendResult(0), 1);   // SUCCESS_SUCCESS
  EXPECT_EQ(MapiSendResult(1), 2);   // MAPI_USER_ABORT
  EXPECT_EQ(MapiSendResult(2), 0);   // MAPI_E_FAILURE
  EXPECT_EQ(MapiSendResult(3), 0);   // MAPI_E_LOGON_FAILURE
  EXPECT_EQ(MapiSendResult(26), 0);  // MAPI_E_NOT_SUPPORTED
}

TEST(MailtoLink, EscapesSubjectAndBodyOnly) {
  EXPECT_EQ(MailtoLink("a@x.test; b@y.test ", "50% off? #1 <now> \"a+b\"", "line 1\r\nline 2\n&=/:"),
            "mailto:a@x.test,b@y.test?subject=50%25%20off%3F%20%231%20%3Cnow%3E%20%22a%2Bb%22"
            "&body=line%201%0D%0Aline%202%0A&=/:");
  EXPECT_EQ(MailtoLink("", "", ""), "mailto:?subject=&body=");
}

TEST(MailtoCommand, LinkReplacesEveryPercentOneOrIsAppended) {
  EXPECT_EQ(MailtoCommandLine("\"C:\\mail.exe\" -compose \"%1\"", "mailto:a"), "\"C:\\mail.exe\" -compose \"mailto:a\"");
  EXPECT_EQ(MailtoCommandLine("mail.exe %1 %1", "mailto:a"), "mail.exe mailto:a mailto:a");
  EXPECT_EQ(MailtoCommandLine("mail.exe", "mailto:a"), "mail.exe mailto:a");
  EXPECT_EQ(MailtoCommandLine("mail.exe ", "mailto:a"), "mail.exe mailto:a");
  // An escape "%10" inside the link is no placeholder.
  EXPECT_EQ(MailtoCommandLine("m %1", "mailto:?body=%10%1"), "m mailto:?body=%10%1");
}

TEST(MailtoCommand, LongCommandNeverEndsInsideAnEscape) {
  EXPECT_EQ(MailtoCutLength("abc", 5), 3u);
  EXPECT_EQ(MailtoCutLength("abcdef", 5), 5u);
  EXPECT_EQ(MailtoCutLength("abcd%20", 5), 4u) << "the '%' would be the last character";
  EXPECT_EQ(MailtoCutLength("abc%20x", 5), 3u) << "'%' and one digit would be left";
  EXPECT_EQ(MailtoCutLength("ab%20xy", 5), 5u) << "a whole escape at the end stays";

  // A body of escapes and letters ("%20aa" repeated): over five offsets the
  // cut meets every place in an escape, so all three lengths occur, and the
  // line always ends after a whole escape.
  std::string body;
  for (int i = 0; i < 24000; ++i) body += i % 3 ? "a" : " ";
  const std::string link = MailtoLink("a@x.test", "s", body);
  std::set<size_t> lengths;
  for (int shift = 0; shift < 5; ++shift) {
    const std::string command = "m" + std::string(shift, 'x') + " %1";
    const std::string full = MailtoCommandLine(command, link, std::string::npos);
    const std::string line = MailtoCommandLine(command, link);
    ASSERT_GT(full.size(), kMaxCommandLine);
    EXPECT_EQ(full.compare(0, line.size(), line), 0) << "a prefix of the whole line";
    EXPECT_GE(line.size() - line.rfind('%'), 3u) << "shift " << shift << ": a cut escape";
    lengths.insert(line.size());
  }
  EXPECT_EQ(lengths, (std::set<size_t>{kMaxCommandLine - 2, kMaxCommandLine - 1, kMaxCommandLine}));
}

}  // namespace
}  // namespace kestrix
