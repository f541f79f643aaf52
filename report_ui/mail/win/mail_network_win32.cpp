// Windows Sockets for mail (see mail_network_win32.h).
#include "report_ui/mail/win/mail_network_win32.h"

#include <windows.h>

#include <atomic>
#include <chrono>
#include <type_traits>

#include "crash/base/win/scoped_socket.h"
#include "report_ui/mail/win/dns_client_win32.h"
#include "report_ui/mail/win/mail_state_win32.h"

namespace kestrix::mail {

namespace {

constinit TMailState g_state;
static_assert(std::is_trivially_destructible_v<TMailState>, "no destructor runs at the process's end");

// A send that makes no progress for this long fails.
constexpr int kSendTimeoutMs = 30000;

class TSocketChannel : public ISmtpChannel {
 public:
  explicit TSocketChannel(TScopedSocket s) : socket_(std::move(s)) {}

  bool Send(const char* data, size_t size) override {
    while (size > 0) {
      const int n = send(socket_.Get(), data, static_cast<int>(std::min<size_t>(size, 64 * 1024)), 0);
      if (n <= 0) return false;
      data += n;
      size -= static_cast<size_t>(n);
    }
    return true;
  }

  int Receive(char* buffer, size_t size, int timeoutMs) override {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(socket_.Get(), &readable);
    timeval wait{timeoutMs / 1000, timeoutMs % 1000 * 1000};
    if (select(0, &readable, nullptr, nullptr, &wait) <= 0) return -1;
    const int n = recv(socket_.Get(), buffer, static_cast<int>(size), 0);
    return n < 0 ? -1 : n;
  }

 private:
  TScopedSocket socket_;
};

}  // namespace

TSocketLayer::TSocketLayer() {
  WSADATA data;
  ready_ = WSAStartup(MAKEWORD(1, 1), &data) == 0;
}

TSocketLayer::~TSocketLayer() {
  if (ready_) WSACleanup();
}

TMailState& MailState() { return g_state; }

void SetMailTestNetwork(const TMailTestNetwork* network) { g_state.testNetwork = network; }
const TMailTestNetwork* MailTestNetwork() { return g_state.testNetwork; }

bool ResolveHostAddress(const std::string& host, in_addr& address) {
  if (host.empty()) return false;
  address.s_addr = inet_addr(host.c_str());
  if (address.s_addr != INADDR_NONE) return true;
  const hostent* entry = gethostbyname(host.c_str());
  if (!entry || entry->h_addrtype != AF_INET || !entry->h_addr_list || !entry->h_addr_list[0]) return false;
  memcpy(&address, entry->h_addr_list[0], sizeof address);
  return true;
}

std::unique_ptr<ISmtpChannel> OpenServerConnection(const in_addr& address, uint16_t port, int timeoutMs) {
  TScopedSocket owned(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  if (!owned) return nullptr;
  const SOCKET s = owned.Get();
  auto channel = std::make_unique<TSocketChannel>(std::move(owned));
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  to.sin_addr = address;
  // Connect without blocking, so that an address that never answers costs
  // at most `timeoutMs`.
  u_long nonBlocking = 1;
  ioctlsocket(s, FIONBIO, &nonBlocking);
  if (connect(s, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
    if (WSAGetLastError() != WSAEWOULDBLOCK) return nullptr;
    fd_set writable, failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(s, &writable);
    FD_SET(s, &failed);
    timeval wait{timeoutMs / 1000, timeoutMs % 1000 * 1000};
    if (select(0, nullptr, &writable, &failed, &wait) <= 0 || FD_ISSET(s, &failed) || !FD_ISSET(s, &writable))
      return nullptr;
    int error = 0, length = sizeof error;
    if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) != 0 || error != 0)
      return nullptr;
  }
  nonBlocking = 0;
  ioctlsocket(s, FIONBIO, &nonBlocking);
  const DWORD sendTimeout = kSendTimeoutMs;
  setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&sendTimeout), sizeof sendTimeout);
  return channel;
}

std::unique_ptr<ISmtpChannel> OpenServerConnection(const std::string& host, uint16_t port) {
  in_addr address;
  if (!ResolveHostAddress(host, address)) return nullptr;
  return OpenServerConnection(address, port);
}

std::vector<std::string> TMailNetwork::FindMailExchangers(const std::string& recipient) {
  TMailExchangers found = FindMailExchanger(recipient);
  dnsServers_ = found.dnsServers;
  glue_.clear();
  for (const TDnsRecord& a : found.glue) glue_.emplace_back(a.owner, a.address);
  return found.names;
}

std::unique_ptr<ISmtpChannel> TMailNetwork::OpenServerConnection(const std::string& host, uint16_t port,
                                                                 bool exchanger) {
  if (!exchanger) return mail::OpenServerConnection(host, port);
  if (const TMailTestNetwork* test = MailTestNetwork()) port = test->exchangerPort;
  in_addr address;
  address.s_addr = inet_addr(host.c_str());
  if (address.s_addr == INADDR_NONE) {
    bool known = false;
    for (const auto& [name, a] : glue_)
      if (_stricmp(name.c_str(), host.c_str()) == 0) {
        address.s_addr = htonl(a);
        known = true;
        break;
      }
    TDnsReply reply;
    const TMailTestNetwork* test = MailTestNetwork();
    if (!known && QueryDns(host, dnsServers_, kDnsTypeA, reply, test ? test->dnsPort : 53)) {
      for (const TDnsRecord& r : reply.answers)
        if (r.type == kDnsTypeA) {
          address.s_addr = htonl(r.address);
          known = true;
          break;
        }
    }
    if (!known && !ResolveHostAddress(host, address)) return nullptr;
  }
  return mail::OpenServerConnection(address, port);
}

}  // namespace kestrix::mail
