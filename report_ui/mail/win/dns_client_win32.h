// The own DNS client: UDP queries to the system's DNS servers (or, when none
// are known, a walk from the root name servers) for the mail exchangers of
// a domain.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "report_ui/mail/dns_message.h"

namespace kestrix::mail {

// The system's DNS servers: the IP helper's network parameters (the current
// server first), else the TCP/IP registry values.
std::vector<std::string> GetSystemDnsServers();
// The servers a mail-exchanger lookup asks first: the test network's, else
// the system's (empty: the lookup walks from the root servers).
std::vector<std::string> LookupDnsServers();

// Asks every server of the list (dotted addresses or host names) and takes
// the first reply that names anything; waits at most 5 seconds in all.
// False when no usable reply came.
bool QueryDns(const std::string& name, const std::vector<std::string>& servers, uint16_t type,
              TDnsReply& reply, uint16_t port = 53);

struct TMailExchangers {
  std::vector<std::string> names;   // the preferred first
  std::vector<TDnsRecord> glue;     // A records that came with the replies
  std::vector<std::string> dnsServers;  // the servers that were asked
};
// The mail exchangers of the address's domain (without MX records the
// domain itself, as mail servers do).
TMailExchangers FindMailExchanger(const std::string& address);

}  // namespace kestrix::mail
