// IsOnline: whether the internet answers, by an ICMP echo to a well-known
// host, after the system's dial-up attempt when going online is allowed.
#pragma once

#include <string>

namespace kestrix {

// The host the online check pings (a public anycast resolver).
extern const char kOnlineCheckHost[];

bool IsOnline(bool mayGoOnline);

// One echo to `host` (a dotted address or a name): true when answered
// within `timeoutMs`.
bool PingHost(const std::string& host, unsigned timeoutMs = 1000);

}  // namespace kestrix
