// Which servers the online check may leave alone: a server on the loopback
// or on a private network is reached without the internet, so a public host
// that does not answer says nothing about it.
#pragma once

#include <cstdint>

namespace kestrix {

// An IPv4 address (a.b.c.d as (a << 24) | (b << 16) | (c << 8) | d) of the
// loopback (127/8), a private network (10/8, 172.16/12, 192.168/16), the
// shared address space of carrier-grade NAT (100.64/10) or a link-local
// network (169.254/16).
bool IsLocalNetworkAddress(uint32_t address);

}  // namespace kestrix
