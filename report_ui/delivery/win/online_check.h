// The online check before a network channel.
//
// IsOnline: whether the internet answers, by an ICMP echo to the check host
// (the setting "OnlineCheckHost": a dotted address or a name; empty, the
// check is skipped and counts as online), after the system's dial-up
// attempt when going online is allowed. When the echo cannot even be tried
// (no raw ICMP socket, e.g. without the privilege for one) the check counts
// as online too: a failed test is no proof of being offline, and the
// channel's own connection attempt then decides. Only a request that went
// out and got no answer, or one that could not be sent, means offline.
//
// ServersReachable: a channel's first servers on the loopback or a private
// network need no internet; for them no public host is asked.
#pragma once

#include <winsock2.h>

#include <string>
#include <vector>

namespace kestrix {

bool IsOnline(const std::string& checkHost, bool mayGoOnline);

// True at once when one of `servers` (names or dotted addresses) lies on the
// loopback or a private network, else IsOnline.
bool ServersReachable(const std::vector<std::string>& servers, const std::string& checkHost, bool mayGoOnline);

// A dotted address, or the first IPv4 address of a name.
bool ResolveHost(const std::string& host, in_addr& address);

enum TEchoResult { erAnswered, erSilent, erUntried };

// One echo to `host` (a dotted address or a name) within `timeoutMs`:
// answered, not answered (or not sendable), or not tried at all (no socket
// layer, no raw socket).
TEchoResult EchoHost(const std::string& host, unsigned timeoutMs = 1000);
inline bool PingHost(const std::string& host, unsigned timeoutMs = 1000) {
  return EchoHost(host, timeoutMs) == erAnswered;
}

}  // namespace kestrix
