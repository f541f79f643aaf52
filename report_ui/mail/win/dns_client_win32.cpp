// The own DNS client (see dns_client_win32.h).
#include "report_ui/mail/win/dns_client_win32.h"

#include <winsock2.h>
#include <iphlpapi.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>

#include "crash/base/win/scoped_handle.h"
#include "crash/base/win/scoped_socket.h"
#include "crash/base/win/system_library.h"
#include "report_ui/mail/win/mail_network_win32.h"
#include "report_ui/mail/win/mail_state_win32.h"

namespace kestrix::mail {

namespace {

// Two of the root name servers (a.root-servers.net, k.root-servers.net),
// by address: with no DNS server known, their names could not be resolved.
const char* const kRootServers[] = {"198.41.0.4", "193.0.14.129"};
constexpr int kDnsWaitMs = 5000;
constexpr int kMaxWalkRounds = 10;

uint16_t NextQueryId() {
  return static_cast<uint16_t>(GetTickCount() * 2654435761u ^ (GetCurrentProcessId() << 7) ^ ++MailState().dnsQueries);
}

void SplitInto(const std::string& text, std::vector<std::string>& out) {
  const char separator = text.find(',') != std::string::npos ? ',' : ' ';
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(separator, start);
    if (end == std::string::npos) end = text.size();
    std::string item = text.substr(start, end - start);
    item.erase(0, item.find_first_not_of(" \t"));
    item.erase(item.find_last_not_of(" \t") + 1);
    if (!item.empty()) out.push_back(item);
    start = end + 1;
  }
}

std::string RegistryText(HKEY key, const char* name) {
  char value[1024];
  DWORD size = sizeof value - 1, type = 0;
  if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) != ERROR_SUCCESS ||
      (type != REG_SZ && type != REG_EXPAND_SZ))
    return std::string();
  value[std::min<DWORD>(size, sizeof value - 1)] = 0;
  return value;
}

std::vector<std::string> RegistryDnsServers() {
  std::vector<std::string> servers;
  for (const char* path : {"System\\CurrentControlSet\\Services\\Tcpip\\Parameters",
                           "System\\CurrentControlSet\\Services\\VxD\\MSTCP"}) {
    TScopedRegistryKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, key.Receive()) != ERROR_SUCCESS) continue;
    std::string text = RegistryText(key.Get(), "DhcpNameServer");
    if (text.empty()) text = RegistryText(key.Get(), "NameServer");
    key.Reset();
    SplitInto(text, servers);
    if (!servers.empty()) break;
  }
  return servers;
}

bool HasNames(const TDnsReply& reply, uint16_t type) {
  for (const TDnsRecord& r : reply.answers)
    if (r.type == type) return true;
  return type == kDnsTypeNs && !reply.authorities.empty();
}

std::vector<std::string> NsNames(const TDnsReply& reply) {
  std::vector<std::string> names = RecordNames(reply.answers, kDnsTypeNs);
  if (names.empty()) names = RecordNames(reply.authorities, kDnsTypeNs);
  return names;
}

// Name servers as addresses where the reply's glue gives them.
std::vector<std::string> WithGlue(const std::vector<std::string>& names, const TDnsReply& reply) {
  std::vector<std::string> out;
  for (const std::string& name : names) {
    std::string text = name;
    for (const TDnsRecord& a : reply.additional)
      if (a.type == kDnsTypeA && _stricmp(a.owner.c_str(), name.c_str()) == 0) {
        in_addr in;
        in.s_addr = htonl(a.address);
        text = inet_ntoa(in);
        break;
      }
    out.push_back(text);
  }
  return out;
}

void AddGlue(const TDnsReply& reply, std::vector<TDnsRecord>& glue) {
  for (const TDnsRecord& a : reply.additional)
    if (a.type == kDnsTypeA) glue.push_back(a);
}

}  // namespace

std::vector<std::string> GetSystemDnsServers() {
  using TGetNetworkParams = DWORD(WINAPI*)(PFIXED_INFO, PULONG);
  std::vector<std::string> servers;
  if (auto getNetworkParams = SystemFunctionAs<TGetNetworkParams>("iphlpapi.dll", "GetNetworkParams")) {
    ULONG size = 0;
    getNetworkParams(nullptr, &size);
    std::vector<char> buffer(std::max<ULONG>(size, sizeof(FIXED_INFO)) * 2);
    size = static_cast<ULONG>(buffer.size());
    auto* info = reinterpret_cast<FIXED_INFO*>(buffer.data());
    if (getNetworkParams(info, &size) == ERROR_SUCCESS) {
      if (info->CurrentDnsServer && info->CurrentDnsServer->IpAddress.String[0])
        servers.push_back(info->CurrentDnsServer->IpAddress.String);
      for (const IP_ADDR_STRING* a = &info->DnsServerList; a; a = a->Next) {
        const std::string text = a->IpAddress.String;
        if (!text.empty() && std::find(servers.begin(), servers.end(), text) == servers.end())
          servers.push_back(text);
      }
      return servers;
    }
  }
  return RegistryDnsServers();
}

bool QueryDns(const std::string& name, const std::vector<std::string>& servers, uint16_t type,
              TDnsReply& reply, uint16_t port) {
  reply = TDnsReply();
  const uint16_t id = NextQueryId();
  const std::string query = BuildDnsQuery(name, type, id);
  if (query.empty() || servers.empty()) return false;
  TScopedSocket owned(socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
  if (!owned) return false;
  const SOCKET s = owned.Get();
  sockaddr_in local{};
  local.sin_family = AF_INET;
  bind(s, reinterpret_cast<sockaddr*>(&local), sizeof local);

  std::vector<in_addr> asked;
  for (const std::string& server : servers) {
    in_addr address;
    if (!ResolveHostAddress(server, address)) continue;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr = address;
    if (sendto(s, query.data(), static_cast<int>(query.size()), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) ==
        static_cast<int>(query.size()))
      asked.push_back(address);
  }
  bool answered = false;
  size_t replies = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kDnsWaitMs);
  while (!asked.empty() && replies < asked.size()) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) break;
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(s, &readable);
    timeval wait{static_cast<long>(left / 1000), static_cast<long>(left % 1000 * 1000)};
    if (select(0, &readable, nullptr, nullptr, &wait) <= 0) break;
    uint8_t packet[kDnsMaxMessage];
    sockaddr_in from{};
    int fromLength = sizeof from;
    const int n = recvfrom(s, reinterpret_cast<char*>(packet), sizeof packet, 0,
                           reinterpret_cast<sockaddr*>(&from), &fromLength);
    if (n <= 0) {
      // A refused port (ICMP) shows as an error on Windows: that server is done.
      ++replies;
      continue;
    }
    // Only replies from the servers asked count.
    if (std::none_of(asked.begin(), asked.end(), [&](const in_addr& a) { return a.s_addr == from.sin_addr.s_addr; }))
      continue;
    TDnsReply candidate;
    if (!ParseDnsReply(packet, static_cast<size_t>(n), id, name, type, candidate)) {
      // A malformed reply with our id is that server's answer; one with
      // another id may be a stray and does not end the wait.
      if (n >= 2 && (packet[0] << 8 | packet[1]) == id) ++replies;
      continue;
    }
    ++replies;
    if (candidate.responseCode != 0) continue;
    if (HasNames(candidate, type) || (type == kDnsTypeA && !candidate.answers.empty())) {
      reply = std::move(candidate);
      answered = true;
      break;
    }
  }
  return answered;
}

std::vector<std::string> LookupDnsServers() {
  const TMailTestNetwork* test = MailTestNetwork();
  return test ? test->dnsServers : GetSystemDnsServers();
}

TMailExchangers FindMailExchanger(const std::string& address) {
  TMailExchangers result;
  const std::string domain = MailDomain(address);
  if (domain.empty()) return result;
  const std::string base = BaseDomain(domain);
  TSocketLayer layer;
  if (!layer.Ready()) return result;

  const TMailTestNetwork* test = MailTestNetwork();
  const uint16_t port = test ? test->dnsPort : 53;
  std::vector<std::string> servers = LookupDnsServers();
  TDnsReply reply;
  if (servers.empty()) {
    // The walk from the root: NS of the base domain, following referrals.
    std::vector<std::string> roots = test && !test->rootServers.empty()
                                         ? test->rootServers
                                         : std::vector<std::string>(std::begin(kRootServers), std::end(kRootServers));
    std::vector<std::string> authority;
    bool found = QueryDns(base, roots, kDnsTypeNs, reply, port);
    for (int round = 0; found && round <= kMaxWalkRounds; ++round) {
      const bool answer = !RecordNames(reply.answers, kDnsTypeNs).empty();
      authority = WithGlue(NsNames(reply), reply);
      if (answer || authority.empty() || round == kMaxWalkRounds) break;
      found = QueryDns(base, authority, kDnsTypeNs, reply, port);
    }
    servers = authority;
  }
  result.dnsServers = servers;
  bool got = QueryDns(domain, servers, kDnsTypeMx, reply, port);
  if (!got && base != domain) got = QueryDns(base, servers, kDnsTypeMx, reply, port);
  if (got) {
    result.names = RecordNames(reply.answers, kDnsTypeMx);
    AddGlue(reply, result.glue);
  }
  // Without MX records the domain is its own mail exchanger.
  if (result.names.empty() && !servers.empty()) result.names.push_back(domain);
  return result;
}

}  // namespace kestrix::mail
