// IsOnline over a raw ICMP socket (time-to-live 30) and WinINet's dial-up
// attempt; ServersReachable over the servers' addresses.
#include <winsock2.h>
#include <ws2tcpip.h>

#include "report_ui/delivery/win/online_check.h"

#include <atomic>

#include "crash/base/win/scoped_socket.h"
#include "crash/base/win/system_library.h"
#include "crash/threads/win/library_threads.h"
#include "report_ui/delivery/icmp_echo.h"
#include "report_ui/delivery/online_rules.h"
#include "report_ui/delivery/win/delivery_state_win32.h"
#include "report_ui/delivery/win/winsock_session.h"

namespace kestrix {

bool ResolveHost(const std::string& host, in_addr& address) {
  address.s_addr = inet_addr(host.c_str());
  if (address.s_addr != INADDR_NONE) return true;
  hostent* entry = gethostbyname(host.c_str());
  if (!entry || entry->h_addrtype != AF_INET || !entry->h_addr_list[0]) return false;
  memcpy(&address, entry->h_addr_list[0], sizeof address);
  return true;
}

TEchoResult EchoHost(const std::string& host, unsigned timeoutMs) {
  TWinsockSession session;
  if (!session.ok()) return erUntried;
  sockaddr_in to{};
  to.sin_family = AF_INET;
  if (!ResolveHost(host, to.sin_addr)) return erSilent;
  TScopedSocket owned(socket(AF_INET, SOCK_RAW, IPPROTO_ICMP));
  if (!owned) return erUntried;
  const SOCKET s = owned.Get();
  int ttl = 30;
  setsockopt(s, IPPROTO_IP, IP_TTL, reinterpret_cast<const char*>(&ttl), sizeof ttl);
  // Neither the send nor a receive may wait: only select does, with the
  // time left.
  u_long nonBlocking = 1;
  ioctlsocket(s, FIONBIO, &nonBlocking);
  auto identifier = static_cast<uint16_t>(GetCurrentProcessId());
  auto sequence = static_cast<uint16_t>(++DeliveryState().echoSequence);
  std::vector<uint8_t> request = IcmpEchoRequest(identifier, sequence);
  bool answered = false;
  if (sendto(s, reinterpret_cast<const char*>(request.data()), static_cast<int>(request.size()), 0,
             reinterpret_cast<sockaddr*>(&to), sizeof to) == static_cast<int>(request.size())) {
    DWORD start = GetTickCount();
    uint8_t buffer[1500];
    for (;;) {
      DWORD elapsed = GetTickCount() - start;
      if (elapsed >= timeoutMs) break;
      fd_set set;
      FD_ZERO(&set);
      FD_SET(s, &set);
      DWORD left = timeoutMs - elapsed;
      timeval limit{static_cast<long>(left / 1000), static_cast<long>(left % 1000) * 1000};
      if (select(0, &set, nullptr, nullptr, &limit) <= 0) break;
      int n = recv(s, reinterpret_cast<char*>(buffer), sizeof buffer, 0);
      if (n < 0 && WSAGetLastError() == WSAEWOULDBLOCK) continue;
      if (n <= 0) break;
      if (IsEchoReply(buffer, static_cast<size_t>(n), identifier, sequence)) {
        answered = true;
        break;
      }
    }
  }
  return answered ? erAnswered : erSilent;
}

bool IsOnline(const std::string& host, bool mayGoOnline) {
  if (host.empty()) return true;
  const TEchoResult first = EchoHost(host);
  if (first != erSilent) return true;
  if (!mayGoOnline || IsProcessBlocked(250)) return false;
  using TAttemptConnect = DWORD(WINAPI*)(DWORD);
  auto attempt = SystemFunctionAs<TAttemptConnect>("wininet.dll", "InternetAttemptConnect");
  return attempt && attempt(0) == ERROR_SUCCESS && EchoHost(host) != erSilent;
}

bool ServersReachable(const std::vector<std::string>& servers, const std::string& checkHost, bool mayGoOnline) {
  {
    TWinsockSession session;
    if (session.ok()) {
      for (const std::string& server : servers) {
        in_addr address;
        if (!server.empty() && ResolveHost(server, address) && IsLocalNetworkAddress(ntohl(address.s_addr)))
          return true;
      }
    }
  }
  return IsOnline(checkHost, mayGoOnline);
}

}  // namespace kestrix
