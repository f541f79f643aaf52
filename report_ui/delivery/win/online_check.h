// IsOnline: whether the internet answers, by an ICMP echo to a well-known
// host, after the system's dial-up attempt when going online is allowed.
//
// The host: kOnlineCheckHost, unless the environment variable
// "KESTRIX_ONLINE_HOST" names another one (a dotted address or a name; the
// tests name 127.0.0.1); set but empty, the check is skipped and counts as
// online. When the echo cannot even be tried (no raw ICMP socket, e.g.
// without the privilege for one) the check counts as online too: a failed
// test is no proof of being offline, and the channel's own connection
// attempt then decides. Only a request that went out and got no answer, or
// one that could not be sent, means offline.
#pragma once

#include <string>

namespace kestrix {

// The host the online check pings by default (a public anycast resolver).
extern const char kOnlineCheckHost[];

bool IsOnline(bool mayGoOnline);

enum TEchoResult { erAnswered, erSilent, erUntried };

// One echo to `host` (a dotted address or a name) within `timeoutMs`:
// answered, not answered (or not sendable), or not tried at all (no socket
// layer, no raw socket).
TEchoResult EchoHost(const std::string& host, unsigned timeoutMs = 1000);
inline bool PingHost(const std::string& host, unsigned timeoutMs = 1000) {
  return EchoHost(host, timeoutMs) == erAnswered;
}

// The host to ping: the environment's "KESTRIX_ONLINE_HOST" when set (may
// be empty), else kOnlineCheckHost.
std::string OnlineCheckHost();

}  // namespace kestrix
