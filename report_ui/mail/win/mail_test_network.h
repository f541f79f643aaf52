// What tests hand the mail client instead of the system's network setup:
// the DNS servers and their port, the root servers of the walk, and the
// port the mail exchangers listen on. The product never sets it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kestrix::mail {

struct TMailTestNetwork {
  std::vector<std::string> dnsServers;
  uint16_t dnsPort = 53;
  std::vector<std::string> rootServers;
  uint16_t exchangerPort = 25;
};
// Tests only; nullptr returns to the system's setup.
void SetMailTestNetwork(const TMailTestNetwork* network);
const TMailTestNetwork* MailTestNetwork();

}  // namespace kestrix::mail
