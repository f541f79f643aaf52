// Under Wine against real peers that test_mail_peers.py starts on 127.0.0.1
// (ports in the environment): aiosmtpd as relay and as mail exchanger,
// dnsmasq with the test zone, misbehaving SMTP and DNS servers. The driver
// then reads what the servers received.
#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>

#include "report_ui/mail/win/dns_client_win32.h"
#include "report_ui/mail/win/mail_network_win32.h"
#include "report_ui/mail/win/send_via_network_win32.h"

namespace kestrix::mail {
namespace {

int Port(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::atoi(value) : 0;
}

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

#define NEED_PEERS()                                                   \
  if (!Port("KX_SMTP_PORT")) GTEST_SKIP() << "run by test_mail_peers.py"

class MailPeers : public testing::Test {
 protected:
  void SetUp() override {
    test_.dnsServers = {"127.0.0.1"};
    test_.dnsPort = static_cast<uint16_t>(Port("KX_DNS_PORT"));
    test_.exchangerPort = static_cast<uint16_t>(Port("KX_MX_PORT"));
    SetMailTestNetwork(&test_);
  }
  void TearDown() override { SetMailTestNetwork(nullptr); }

  static std::string WriteFile(const std::string& name, const std::string& data) {
    const std::string path = Env("KX_FILES") + "\\" + name;
    std::ofstream(path, std::ios::binary) << data;
    return path;
  }

  TSendRequest Client(int port, const std::string& subject) {
    TSendRequest r;
    r.sender = "Crash Lab <lab@sender.test>";
    r.recipients = "Bug Desk <desk@kx.test>, second@kx.test";
    r.server = "127.0.0.1";
    r.port = static_cast<uint16_t>(port);
    r.subject = subject;
    r.body = "exception message : access violation\r\n.\r\n..two dots\r\n" + std::string(2500, 'L') + "\r\nend";
    return r;
  }

  TMailTestNetwork test_;
};

TEST_F(MailPeers, ClientModeWithAttachments) {
  NEED_PEERS();
  std::string binary;
  for (int i = 0; i < 3000; ++i) binary += static_cast<char>(i * 7 + i / 256);
  TSendRequest r = Client(Port("KX_SMTP_PORT"), "client attachments \xe9t\xe9");
  r.files = {WriteFile("binary.bin", binary), WriteFile("exact57.bin", std::string(57, 'x')),
             WriteFile("shot.PNG", "\x89PNG\r\n\x1a\n" + std::string(58, '\0')), WriteFile("empty.txt", ""),
             Env("KX_FILES") + "\\missing.txt", WriteFile("dots.txt", ".\r\n.\r\nx\r\n")};
  r.sendAsNames = {"binary.bin", "exact57.bin", "shot.png", "empty.txt", "missing.txt", "dots.txt"};
  r.fieldNames.resize(r.files.size());
  std::string error;
  EXPECT_TRUE(SendViaNetwork(r, &error)) << error;
}

TEST_F(MailPeers, ClientModeLoginCheckedByServer) {
  NEED_PEERS();
  TSendRequest r = Client(Port("KX_SMTP_LOGIN_PORT"), "client login");
  r.account = "kx-account";
  r.password = "kx-secret";
  std::string error;
  EXPECT_TRUE(SendViaNetwork(r, &error)) << error;
  r.subject = "client wrong password";
  r.password = "wrong";
  EXPECT_FALSE(SendViaNetwork(r, &error));
  EXPECT_NE(error.find("AUTH LOGIN password"), std::string::npos) << error;
  r.subject = "client without login";
  r.account.clear();
  r.password.clear();
  EXPECT_FALSE(SendViaNetwork(r, &error));
  EXPECT_NE(error.find("MAIL FROM"), std::string::npos) << error;
}

TEST_F(MailPeers, FindMailExchangerOrderAndFallbacks) {
  NEED_PEERS();
  TMailExchangers found = FindMailExchanger("Desk <desk@kx.test>");
  EXPECT_EQ(found.names, (std::vector<std::string>{"nowhere.kx.test", "mx-a.kx.test", "mx-b.kx.test"}));
  // A name without records of its own falls back to its base domain (the
  // last three labels).
  EXPECT_EQ(FindMailExchanger("desk@deep.er.lab.kx.test").names, (std::vector<std::string>{"mx-b.kx.test"}));
  // Without MX records the domain is its own exchanger.
  EXPECT_EQ(FindMailExchanger("x@nomx.test").names, (std::vector<std::string>{"nomx.test"}));
  EXPECT_TRUE(FindMailExchanger("no domain").names.empty());
}

TEST_F(MailPeers, ServerModeReachesTheExchangerThatAnswers) {
  NEED_PEERS();
  TSendRequest r;
  r.sender = "lab@sender.test";
  r.recipients = "desk@kx.test;  other@nomx.test";
  r.subject = "server mode";
  r.body = "report";
  r.files = {WriteFile("server.txt", "server mode attachment\r\n")};
  r.sendAsNames = {"server.txt"};
  r.fieldNames = {"BugReport"};
  std::string error;
  EXPECT_TRUE(SendViaNetwork(r, &error)) << error;
  // One recipient without any exchanger: still a success for the other.
  r.recipients = "x@none.test;desk@kx.test";
  r.subject = "server mode partly";
  EXPECT_TRUE(SendViaNetwork(r, &error)) << error;
  EXPECT_NE(error.find("x@none.test"), std::string::npos) << error;
  r.recipients = "x@none.test";
  r.subject = "server mode nowhere";
  EXPECT_FALSE(SendViaNetwork(r, &error));
}

TEST_F(MailPeers, MisbehavingServersEndInFailure) {
  NEED_PEERS();
  std::istringstream list(Env("KX_BAD_SMTP"));
  std::string entry;
  int cases = 0;
  const std::string big = WriteFile("big.bin", std::string(300000, 'b'));
  while (std::getline(list, entry, ',')) {
    const std::string mode = entry.substr(0, entry.find('='));
    TSendRequest r = Client(std::atoi(entry.substr(entry.find('=') + 1).c_str()), "misbehaving " + mode);
    r.files = {big};
    r.sendAsNames = {"big.bin"};
    r.fieldNames = {""};
    std::string error;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(SendViaNetwork(r, &error)) << mode;
    const auto seconds =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start).count();
    // Each reply is awaited at most 7 s; no peer holds the client longer.
    EXPECT_LE(seconds, 16) << mode;
    EXPECT_FALSE(error.empty()) << mode;
    std::printf("%-20s %2llds  %s\n", mode.c_str(), static_cast<long long>(seconds), error.c_str());
    ++cases;
  }
  EXPECT_GE(cases, 8);
  std::string error;
  TSendRequest closed = Client(Port("KX_CLOSED_PORT"), "closed port");
  EXPECT_FALSE(SendViaNetwork(closed, &error));
  EXPECT_NE(error.find("cannot connect"), std::string::npos) << error;
}

TEST_F(MailPeers, MalformedDnsAnswersGiveNoExchanger) {
  NEED_PEERS();
  test_.dnsPort = static_cast<uint16_t>(Port("KX_BAD_DNS_PORT"));
  for (const char* label : {"loop", "pingpong", "outside", "truncated", "wrongid", "wrongquestion", "hugecount",
                            "silent"}) {
    const std::string domain = std::string(label) + ".bad.test";
    const auto start = std::chrono::steady_clock::now();
    const TMailExchangers found = FindMailExchanger("x@" + domain);
    // Only the domain itself, as without MX records.
    EXPECT_EQ(found.names, (std::vector<std::string>{domain})) << label;
    const auto seconds =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LE(seconds, 11) << label;
  }
}

TEST_F(MailPeers, WalkFromTheRootWhenNoDnsServerIsKnown) {
  NEED_PEERS();
  test_.dnsServers.clear();
  test_.rootServers = {"127.0.0.1"};
  test_.dnsPort = static_cast<uint16_t>(Port("KX_WALK_DNS_PORT"));
  TMailExchangers found = FindMailExchanger("desk@walk.test");
  EXPECT_EQ(found.names, (std::vector<std::string>{"mx.walk.test"}));
  EXPECT_EQ(found.dnsServers, (std::vector<std::string>{"127.0.0.2"}));
  // Referred back to the root round after round: the walk gives up.
  found = FindMailExchanger("desk@circle.test");
  EXPECT_EQ(found.names, (std::vector<std::string>{"circle.test"}));
}

TEST(MailSystem, GetSystemDnsServersMatchesResolverConfiguration) {
  const char* expected = std::getenv("KX_RESOLV_SERVERS");
  if (!expected) GTEST_SKIP() << "run by test_mail_peers.py";
  std::set<std::string> want, got;
  std::istringstream list(expected);
  std::string item;
  while (std::getline(list, item, ',')) if (!item.empty()) want.insert(item);
  for (const std::string& s : GetSystemDnsServers()) got.insert(s);
  EXPECT_EQ(got, want);
}

}  // namespace
}  // namespace kestrix::mail
