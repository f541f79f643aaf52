// One SMTP conversation and the mail modes (see smtp_session.h).
#include "report_ui/mail/smtp_session.h"

#include <chrono>
#include <cstdio>

#include "crash/settings/kx_cipher.h"
#include "report_ui/mail/mail_text.h"
#include "report_ui/mail/smtp_reply.h"

namespace kestrix::mail {

namespace {

// Attachment data goes out in blocks of this many Base64 lines.
constexpr size_t kLinesPerSend = 256;

int64_t FileSize(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return -1;
  int64_t size = -1;
  if (std::fseek(f, 0, SEEK_END) == 0) size = std::ftell(f);
  std::fclose(f);
  return size;
}

// The line protocol over one channel.
class TConversation {
 public:
  TConversation(ISmtpChannel& channel, std::string& error) : channel_(channel), error_(error) {}

  bool SendText(const std::string& text) {
    if (broken_) return false;
    if (!channel_.Send(text.data(), text.size())) {
      broken_ = true;
      error_ = "the connection failed while sending";
      return false;
    }
    return true;
  }

  // The whole reply must arrive within kReplyTimeoutMs.
  bool ReadReply(const std::string& code, bool* authLogin, const std::string& step) {
    if (broken_) return false;
    TReplyReader reader(code, authLogin != nullptr);
    if (!carried_.empty()) {
      const std::string carried = std::move(carried_);
      carried_.clear();
      reader.Feed(carried.data(), carried.size());
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kReplyTimeoutMs);
    char buffer[1024];
    while (reader.State() == TReplyReader::rsMore) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now()).count();
      const int n = left > 0 ? channel_.Receive(buffer, sizeof buffer, static_cast<int>(left)) : -1;
      if (n <= 0) {
        broken_ = true;
        error_ = step + ": " + (n == 0 ? "the server closed the connection" : "no reply in time");
        return false;
      }
      reader.Feed(buffer, static_cast<size_t>(n));
    }
    carried_ = reader.Remaining();
    if (authLogin) *authLogin = reader.AuthLogin();
    if (reader.State() != TReplyReader::rsDone) {
      error_ = step + ": expected " + code + ", got: " + reader.Text().substr(0, 200);
      return false;
    }
    return true;
  }

  // `step` names the command in error texts (never the login data).
  bool SendCommand(const std::string& command, const std::string& code, const std::string& step,
                   bool* authLogin = nullptr) {
    if (!command.empty() && !SendText(command + "\r\n")) return false;
    return ReadReply(code, authLogin, step);
  }

  bool Broken() const { return broken_; }
  void Abandon() { broken_ = true; }

 private:
  ISmtpChannel& channel_;
  std::string& error_;
  std::string carried_;  // received after the last reply
  bool broken_ = false;
};

void Finish(IMailProgress* progress) {
  if (progress) progress->FinishArea();
}

// One attachment's part; false when it could not be read whole.
bool SendAttachment(TConversation& smtp, const TMailAttachment& attachment, IMailProgress* progress,
                    std::string& error) {
  const int64_t size = FileSize(attachment.file);
  if (size < 0) return true;  // a missing file is skipped
  if (size == 0) return true;
  std::FILE* f = std::fopen(attachment.file.c_str(), "rb");
  if (!f) {
    error = "attachment " + attachment.file + " cannot be opened";
    return false;
  }
  bool ok = smtp.SendText(AttachmentPartHeader(attachment.file, attachment.sendAs));
  int64_t sent = 0;
  std::string lines;
  char block[57 * kLinesPerSend];
  // The size taken at the start is sent: a file that grows meanwhile (a
  // log) goes as far as it was.
  while (ok && sent < size) {
    const size_t n = std::fread(block, 1, static_cast<size_t>(std::min<int64_t>(sizeof block, size - sent)), f);
    if (n == 0) break;
    lines.clear();
    for (size_t i = 0; i < n; i += 57) lines += Base64Line(block + i, std::min<size_t>(57, n - i));
    ok = smtp.SendText(lines);
    sent += static_cast<int64_t>(n);
    if (progress) progress->SetAreaPosition(static_cast<int>(sent * 1000 / size));
  }
  if (ok && sent != size) {
    error = "attachment " + attachment.file + " could not be read whole";
    ok = false;
  }
  std::fclose(f);
  if (ok) Finish(progress);
  return ok;
}

// Connects to the server, or to the recipient's mail exchangers in turn
// until one greets with 220.
std::unique_ptr<ISmtpChannel> Connect(const TMailRequest& request, const std::string& recipients,
                                      ISmtpNetwork& network, IMailProgress* progress, std::string& error) {
  std::vector<std::string> hosts;
  const bool exchanger = request.server.empty();
  if (exchanger) {
    hosts = network.FindMailExchangers(recipients);
    Finish(progress);
    if (hosts.empty()) {
      error = "no mail exchanger found for " + recipients;
      return nullptr;
    }
  } else {
    hosts.push_back(request.server);
  }
  Finish(progress);
  for (const std::string& host : hosts) {
    std::unique_ptr<ISmtpChannel> channel = network.OpenServerConnection(host, request.port, exchanger);
    if (!channel) {
      error = "cannot connect to " + host;
      continue;
    }
    TConversation smtp(*channel, error);
    if (smtp.SendCommand("", "220", "greeting")) {
      Finish(progress);
      return channel;
    }
    error = host + ": " + error;
  }
  return nullptr;
}

}  // namespace

int AppendSessionAreas(IMailProgress* progress, const TMailTexts& texts, bool withMxLookup,
                       const std::vector<TMailAttachment>& attachments) {
  struct TArea {
    const std::string* text;
    int64_t weight;
  };
  const std::string none;
  std::vector<TArea> areas;
  if (withMxLookup) areas.push_back({&texts.mxLook, 500});
  areas.insert(areas.end(), {{&texts.conn, 100}, {&none, 100}, {&none, 200}, {&texts.auth, 200},
                             {&texts.sendMail, 100}, {&none, 100}, {&none, 100}, {&none, 100}, {&none, 100}});
  std::vector<int64_t> weights;
  for (const TMailAttachment& a : attachments) {
    const int64_t size = FileSize(a.file);
    if (size > 0) weights.push_back((size + 56) / 57 * 3);
  }
  for (const int64_t& w : weights) areas.push_back({&texts.sendAtt, w});
  areas.push_back({&texts.sendFinal, 500});
  areas.push_back({&none, 100});
  if (progress)
    for (const TArea& a : areas) progress->AppendArea(*a.text, a.weight);
  return static_cast<int>(areas.size());
}

bool RunSmtpSession(const TMailRequest& request, const std::string& recipients, ISmtpNetwork& network,
                    IMailProgress* progress, std::string& error) {
  std::unique_ptr<ISmtpChannel> channel = Connect(request, recipients, network, progress, error);
  if (!channel) return false;
  TConversation smtp(*channel, error);
  auto quit = [&] {
    const std::string failure = error;
    smtp.SendCommand("QUIT", "221", "QUIT");
    error = failure;
    return false;
  };

  bool authLogin = false;
  if (!smtp.SendCommand("EHLO " + request.localName, "250", "EHLO", &authLogin)) {
    if (smtp.Broken()) return false;
    authLogin = false;
    if (!smtp.SendCommand("HELO " + request.localName, "250", "HELO")) return quit();
  }
  Finish(progress);

  const std::string sender = request.sender.empty() ? recipients : request.sender;
  if (!request.account.empty() || !request.password.empty()) {
    if (!authLogin) {
      error = "the server offers no AUTH LOGIN";
      return quit();
    }
    if (!smtp.SendCommand("AUTH LOGIN", "334", "AUTH LOGIN") ||
        !smtp.SendCommand(Base64Encode(request.account), "334", "AUTH LOGIN account") ||
        !smtp.SendCommand(Base64Encode(request.password), "235", "AUTH LOGIN password"))
      return quit();
  }
  Finish(progress);

  const std::vector<std::string> senders = SplitRecipients(sender);
  if (!smtp.SendCommand("MAIL FROM:" + AngleAddress(senders.empty() ? sender : senders[0], false), "250", "MAIL FROM"))
    return quit();
  Finish(progress);

  int accepted = 0;
  std::string refused;
  for (const std::string& r : SplitRecipients(recipients)) {
    if (smtp.SendCommand("RCPT TO:" + AngleAddress(r, false), "250", "RCPT TO " + r)) ++accepted;
    else if (smtp.Broken()) return false;
    else refused = error;
  }
  if (!accepted) {
    error = refused.empty() ? "no recipient" : refused;
    return quit();
  }
  Finish(progress);

  if (request.subject.empty() && request.body.empty()) {
    const bool reset = smtp.SendCommand("RSET", "250", "RSET");
    const bool quitted = smtp.SendCommand("QUIT", "221", "QUIT");
    return reset && quitted;
  }

  if (!smtp.SendCommand("DATA", "354", "DATA")) return quit();
  Finish(progress);

  bool data = smtp.SendText(MailHeaderBlock(recipients, sender, request.subject, request.date, request.messageId));
  if (data) Finish(progress);
  bool withAttachments = false;
  for (const TMailAttachment& a : request.attachments) withAttachments |= FileSize(a.file) >= 0;
  if (data) data = smtp.SendText(MailBodyPart(request.body, withAttachments));
  if (data) Finish(progress);
  if (data && withAttachments) {
    for (const TMailAttachment& a : request.attachments) {
      if (!SendAttachment(smtp, a, progress, error)) {
        // Without its terminating dot the server drops the unfinished
        // message: no mail goes out with a part missing.
        smtp.Abandon();
        return false;
      }
    }
    data = smtp.SendText(ClosingBoundary());
  }
  if (smtp.Broken()) return false;
  const bool delivered = smtp.SendCommand("\r\n.", "250", "end of data");
  if (delivered) Finish(progress);
  if (smtp.Broken()) return false;
  const std::string failure = error;
  const bool quitted = smtp.SendCommand("QUIT", "221", "QUIT");
  if (quitted) Finish(progress);
  if (!delivered || !data) error = failure;
  return data && delivered && quitted;
}

bool SendMail(const TMailRequest& request, ISmtpNetwork& network, IMailProgress* progress,
              const TMailTexts& texts, std::string& error) {
  std::string recipients = request.recipients;
  if (NormalizeRecipients(recipients) == 0) {
    error = "no recipient";
    return false;
  }
  if (!request.server.empty()) {
    AppendSessionAreas(progress, texts, false, request.attachments);
    if (progress) progress->FinishArea();  // the preparation area
    return RunSmtpSession(request, recipients, network, progress, error);
  }
  const std::vector<std::string> list = SplitRecipients(recipients);
  int perBlock = 0;
  for (size_t i = 0; i < list.size(); ++i) perBlock = AppendSessionAreas(progress, texts, true, request.attachments);
  if (progress) progress->FinishArea();
  bool any = false;
  std::string errors;
  for (size_t i = 0; i < list.size(); ++i) {
    std::string one;
    if (RunSmtpSession(request, list[i], network, progress, one)) any = true;
    else errors += (errors.empty() ? "" : "; ") + list[i] + ": " + one;
    if (progress) progress->SetActiveArea(static_cast<int>(i + 1) * perBlock + 1);
  }
  error = errors;
  return any;
}

}  // namespace kestrix::mail
