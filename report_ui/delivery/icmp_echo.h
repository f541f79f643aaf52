// The online check's ICMP echo: the request, the Internet checksum, and the
// test whether a received packet (with its IPv4 header, as a raw socket
// delivers it) answers a given request.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kestrix {

// 32 bytes: type 8, code 0, checksum, identifier, sequence number, then six
// times DEADBEEF (hexadecimal).
std::vector<uint8_t> IcmpEchoRequest(uint16_t identifier, uint16_t sequence);

// The one's-complement sum of RFC 1071, ready to store (big-endian order of
// the data).
uint16_t InternetChecksum(const uint8_t* data, size_t size);

// An echo reply (type 0) with this identifier and sequence number, behind
// a valid IPv4 header.
bool IsEchoReply(const uint8_t* packet, size_t size, uint16_t identifier, uint16_t sequence);

}  // namespace kestrix
