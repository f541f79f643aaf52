// The SMTP conversation against a scripted peer: what goes out, and how each
// refusal, closed connection and silence ends it.
#include <gtest/gtest.h>

#include <cstdio>
#include <deque>
#include <map>

#include "report_ui/mail/smtp_session.h"

namespace kestrix::mail {
namespace {

// Answers each command by its first word (or the end of data) from a table;
// a missing entry answers nothing (a timeout), "close" closes.
class TScriptedChannel : public ISmtpChannel {
 public:
  TScriptedChannel(std::map<std::string, std::string> replies, std::string& log)
      : replies_(std::move(replies)), log_(log) {
    Queue("greeting");
  }
  bool Send(const char* data, size_t size) override {
    log_.append(data, size);
    line_.append(data, size);
    size_t end;
    while ((end = line_.find("\r\n")) != std::string::npos) {
      const std::string command = line_.substr(0, end);
      line_.erase(0, end + 2);
      if (inData_) {
        if (command == ".") {
          inData_ = false;
          Queue("dot");
        }
        continue;
      }
      const std::string word = command.substr(0, command.find_first_of(" :"));
      Queue(word.empty() ? "blank" : word);
      if (word == "DATA" && replies_["DATA"].rfind("354", 0) == 0) inData_ = true;
    }
    return !closed_;
  }
  int Receive(char* buffer, size_t size, int) override {
    if (out_.empty()) return closed_ ? 0 : -1;
    const std::string reply = out_.front();
    out_.pop_front();
    if (reply == "close") {
      closed_ = true;
      return 0;
    }
    const size_t n = std::min(size, reply.size());
    std::copy(reply.begin(), reply.begin() + n, buffer);
    if (n < reply.size()) out_.push_front(reply.substr(n));
    return static_cast<int>(n);
  }

 private:
  void Queue(const std::string& key) {
    auto it = replies_.find(key);
    if (it != replies_.end()) out_.push_back(it->second);
  }
  std::map<std::string, std::string> replies_;
  std::string& log_;
  std::string line_;
  std::deque<std::string> out_;
  bool inData_ = false, closed_ = false;
};

std::map<std::string, std::string> GoodServer() {
  return {{"greeting", "220 hi\r\n"}, {"EHLO", "250-x\r\n250 AUTH LOGIN\r\n"}, {"AUTH", "334 VXNlcm5hbWU6\r\n"},
          {"dXNlcg==", "334 UGFzc3dvcmQ6\r\n"}, {"c2VjcmV0", "235 ok\r\n"}, {"MAIL", "250 ok\r\n"},
          {"RCPT", "250 ok\r\n"}, {"DATA", "354 go\r\n"}, {"dot", "250 queued\r\n"}, {"QUIT", "221 bye\r\n"},
          {"RSET", "250 ok\r\n"}, {"HELO", "250 ok\r\n"}};
}

class TScriptedNetwork : public ISmtpNetwork {
 public:
  std::map<std::string, std::string> replies = GoodServer();
  std::vector<std::string> exchangers;
  std::vector<std::string> connected;
  std::string log;
  std::vector<std::string> FindMailExchangers(const std::string&) override { return exchangers; }
  std::unique_ptr<ISmtpChannel> OpenServerConnection(const std::string& host, uint16_t, bool) override {
    connected.push_back(host);
    if (host.rfind("dead", 0) == 0) return nullptr;
    return std::make_unique<TScriptedChannel>(replies, log);
  }
};

class TCountingProgress : public IMailProgress {
 public:
  int areas = 0, finished = 0, lastPosition = -1;
  std::vector<std::pair<std::string, int64_t>> appended;
  void AppendArea(const std::string& text, int64_t weight) override {
    ++areas;
    appended.emplace_back(text, weight);
  }
  void FinishArea() override { ++finished; }
  void SetAreaPosition(int p) override { lastPosition = p; }
  void SetActiveArea(int index) override { active.push_back(index); }
  std::vector<int> active;
};

TMailRequest Request() {
  TMailRequest r;
  r.sender = "Lab <lab@kx.test>";
  r.recipients = "Desk <desk@kx.test>";
  r.server = "relay";
  r.subject = "bug report";
  r.body = "line\r\n.\r\n.dot";
  r.localName = "host";
  r.date = "6 Dec 2026 16:03:09 UT";
  r.messageId = "<1@Kestrix>";
  return r;
}

TEST(SmtpSession, ClientModeWithLoginAndAttachment) {
  const std::string path = testing::TempDir() + "kx_mail_attachment.bin";
  std::FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_TRUE(f);
  for (int i = 0; i < 58; ++i) std::fputc(i, f);
  std::fclose(f);
  TScriptedNetwork net;
  TCountingProgress progress;
  TMailRequest r = Request();
  r.account = "user";
  r.password = "secret";
  r.attachments = {{path, "data.bin"}, {path + ".missing", "gone.bin"}};
  std::string error;
  const TMailTexts texts{"mx", "conn", "auth", "mail", "att", "final"};
  EXPECT_TRUE(SendMail(r, net, &progress, texts, error)) << error;
  // The attachment's weight: (58 + 56) / 57 * 3 = 6.
  EXPECT_EQ(progress.appended, (std::vector<std::pair<std::string, int64_t>>{
                                   {"conn", 100}, {"", 100}, {"", 200}, {"auth", 200}, {"mail", 100}, {"", 100},
                                   {"", 100}, {"", 100}, {"", 100}, {"att", 6}, {"final", 500}, {"", 100}}));
  EXPECT_NE(net.log.find("EHLO host\r\nAUTH LOGIN\r\ndXNlcg==\r\nc2VjcmV0\r\nMAIL FROM:<lab@kx.test>\r\n"
                         "RCPT TO:<desk@kx.test>\r\nDATA\r\nTo: Desk <desk@kx.test>\r\nFrom: Lab <lab@kx.test>\r\n"),
            std::string::npos)
      << net.log;
  EXPECT_NE(net.log.find("line\r\n..\r\n..dot\r\n"), std::string::npos);
  EXPECT_NE(net.log.find("filename=\"data.bin\"\r\n\r\nAAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8gISIjJCUmJygpKissLS4vMDEyMzQ1Njc4\r\nOQ==\r\n"),
            std::string::npos);
  EXPECT_EQ(net.log.find("gone.bin"), std::string::npos);
  // Nine areas, one attachment, final and quit, all finished (and the
  // preparation area that SendViaNetwork appends).
  EXPECT_EQ(progress.areas, 12);
  EXPECT_EQ(progress.finished, 13);
  EXPECT_EQ(progress.lastPosition, 1000);
  std::remove(path.c_str());
}

TEST(SmtpSession, EveryRefusalFails) {
  struct TCase {
    const char* key;
    const char* reply;
    const char* errorPart;
    bool quits;
  };
  const TCase cases[] = {
      {"greeting", "554 go away\r\n", "greeting", false},
      {"greeting", "close", "closed", false},
      {"greeting", nullptr, "no reply in time", false},
      {"MAIL", "550 no\r\n", "MAIL FROM", true},
      {"RCPT", "550 unknown\r\n", "RCPT TO", true},
      {"DATA", "451 later\r\n", "DATA", true},
      {"dot", "554 rejected\r\n", "end of data", true},
      {"dot", "close", "closed", false},
      {"dot", "250 garbage\r\nwhat is this\r\n", nullptr, true},
      {"QUIT", "500 what\r\n", "QUIT", true},
      {"AUTH", "504 no\r\n", "AUTH LOGIN", true},
      {"EHLO", "250 PIPELINING\r\n", "no AUTH LOGIN", true},
  };
  for (const TCase& c : cases) {
    TScriptedNetwork net;
    if (c.reply) net.replies[c.key] = c.reply;
    else net.replies.erase(c.key);
    TMailRequest r = Request();
    r.account = "user";
    r.password = "secret";
    std::string error;
    EXPECT_FALSE(SendMail(r, net, nullptr, TMailTexts(), error)) << c.key << " " << (c.reply ? c.reply : "");
    if (c.errorPart) {
      EXPECT_NE(error.find(c.errorPart), std::string::npos) << error;
    }
    EXPECT_EQ(net.log.find("QUIT") != std::string::npos, c.quits) << c.key << "\n" << net.log;
  }
}

TEST(SmtpSession, EhloFallsBackToHeloAndEmptyMailResets) {
  TScriptedNetwork net;
  net.replies["EHLO"] = "502 no\r\n";
  TMailRequest r = Request();
  r.subject.clear();
  r.body.clear();
  std::string error;
  EXPECT_TRUE(SendMail(r, net, nullptr, TMailTexts(), error)) << error;
  EXPECT_NE(net.log.find("HELO host\r\nMAIL FROM"), std::string::npos);
  EXPECT_NE(net.log.find("RSET\r\nQUIT\r\n"), std::string::npos);
  EXPECT_EQ(net.log.find("DATA"), std::string::npos);
}

TEST(SmtpSession, ServerModeTriesExchangersInTurnPerRecipient) {
  TScriptedNetwork net;
  net.exchangers = {"dead.kx.test", "mx.kx.test"};
  TMailRequest r = Request();
  r.server.clear();
  r.recipients = "a@kx.test; b@kx.test";
  std::string error;
  TCountingProgress progress;
  EXPECT_TRUE(SendMail(r, net, &progress, TMailTexts{"mx", "conn", "auth", "mail", "att", "final"}, error)) << error;
  // One block of areas per recipient, each opening with the MX lookup; after
  // each conversation the next block (after the preparation area) is active.
  ASSERT_EQ(progress.appended.size(), 24u);
  EXPECT_EQ(progress.appended[0], std::make_pair(std::string("mx"), int64_t{500}));
  EXPECT_EQ(progress.appended[12], std::make_pair(std::string("mx"), int64_t{500}));
  EXPECT_EQ(progress.active, (std::vector<int>{13, 25}));
  EXPECT_EQ(net.connected, (std::vector<std::string>{"dead.kx.test", "mx.kx.test", "dead.kx.test", "mx.kx.test"}));
  EXPECT_NE(net.log.find("RCPT TO:<a@kx.test>"), std::string::npos);
  EXPECT_NE(net.log.find("RCPT TO:<b@kx.test>"), std::string::npos);
  net.exchangers.clear();
  EXPECT_FALSE(SendMail(r, net, nullptr, TMailTexts(), error));
  EXPECT_NE(error.find("no mail exchanger"), std::string::npos);
}

}  // namespace
}  // namespace kestrix::mail
