// One SMTP conversation (RunSmtpSession) and the mail modes around it
// (SendMail): the program as its own mail server, delivering to each
// recipient's mail exchanger, or as a client of a relay with a login. The
// network and the progress window are behind small interfaces, so that the
// conversation is the same code on every platform and in tests.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kestrix::mail {

class ISmtpChannel {
 public:
  virtual ~ISmtpChannel() = default;
  // False when not every byte could be handed over.
  virtual bool Send(const char* data, size_t size) = 0;
  // Bytes received (> 0); 0 when the peer closed; -1 on an error or when
  // nothing came within `timeoutMs`.
  virtual int Receive(char* buffer, size_t size, int timeoutMs) = 0;
};

class ISmtpNetwork {
 public:
  virtual ~ISmtpNetwork() = default;
  // The mail exchangers of the recipient's domain, the preferred first.
  virtual std::vector<std::string> FindMailExchangers(const std::string& recipient) = 0;
  // A connected channel, or none. `exchanger`: the host came from an MX lookup.
  virtual std::unique_ptr<ISmtpChannel> OpenServerConnection(const std::string& host, uint16_t port,
                                                             bool exchanger) = 0;
};

// The progress window as the conversation drives it (may be absent).
class IMailProgress {
 public:
  virtual ~IMailProgress() = default;
  virtual void AppendArea(const std::string& text, int64_t weight) = 0;
  virtual void FinishArea() = 0;
  virtual void SetAreaPosition(int position) = 0;
  virtual void SetActiveArea(int index) = 0;
};

struct TMailTexts {
  std::string mxLook, conn, auth, sendMail, sendAtt, sendFinal;
};

struct TMailAttachment {
  std::string file, sendAs;
};

struct TMailRequest {
  std::string sender, recipients;
  std::string server;  // empty: the program is its own mail server
  uint16_t port = 25;
  std::string account, password;
  std::string subject, body;
  std::vector<TMailAttachment> attachments;
  std::string localName;  // for EHLO/HELO
  std::string date, messageId;
};

// How long a reply may take, whole.
constexpr int kReplyTimeoutMs = 7000;

// The progress areas of one conversation; returns how many were appended.
int AppendSessionAreas(IMailProgress* progress, const TMailTexts& texts, bool withMxLookup,
                       const std::vector<TMailAttachment>& attachments);

// One conversation for the recipients `recipients` (comma-separated). On
// failure `error` says which step failed and what the server said.
bool RunSmtpSession(const TMailRequest& request, const std::string& recipients, ISmtpNetwork& network,
                    IMailProgress* progress, std::string& error);

// Client mode (server set): one conversation with all recipients. Server
// mode: one conversation per recipient, true when any succeeded.
bool SendMail(const TMailRequest& request, ISmtpNetwork& network, IMailProgress* progress,
              const TMailTexts& texts, std::string& error);

}  // namespace kestrix::mail
