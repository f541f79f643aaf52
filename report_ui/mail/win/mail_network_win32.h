// Windows Sockets for mail: the socket layer's lifetime, TCP connections
// with bounded waits, host names to addresses, and the network the SMTP
// conversation uses (the own DNS client for mail exchangers).
#pragma once

#include <winsock2.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "report_ui/mail/smtp_session.h"
#include "report_ui/mail/win/mail_test_network.h"

namespace kestrix::mail {

// The socket layer (version 1.1) for the lifetime of the object.
class TSocketLayer {
 public:
  TSocketLayer();
  ~TSocketLayer();
  TSocketLayer(const TSocketLayer&) = delete;
  TSocketLayer& operator=(const TSocketLayer&) = delete;
  bool Ready() const { return ready_; }

 private:
  bool ready_ = false;
};


// The IPv4 address (network byte order) of a dotted address or a host name
// resolved by the system; false when there is none.
bool ResolveHostAddress(const std::string& host, in_addr& address);

// A TCP connection to the address and port within `timeoutMs`, or none.
std::unique_ptr<ISmtpChannel> OpenServerConnection(const in_addr& address, uint16_t port, int timeoutMs = 10000);
// The same for a host text: a dotted address, else a resolved host name.
std::unique_ptr<ISmtpChannel> OpenServerConnection(const std::string& host, uint16_t port);

// The network of the conversation: mail exchangers from the own DNS client,
// their addresses from the reply's glue records or an A query at the same
// DNS servers, other hosts through the system's resolver.
class TMailNetwork : public ISmtpNetwork {
 public:
  std::vector<std::string> FindMailExchangers(const std::string& recipient) override;
  std::unique_ptr<ISmtpChannel> OpenServerConnection(const std::string& host, uint16_t port,
                                                     bool exchanger) override;

 private:
  std::vector<std::string> dnsServers_;
  std::vector<std::pair<std::string, uint32_t>> glue_;
};

}  // namespace kestrix::mail
