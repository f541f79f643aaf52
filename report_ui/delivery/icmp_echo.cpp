// The online check's ICMP echo (see icmp_echo.h).
#include "report_ui/delivery/icmp_echo.h"

namespace kestrix {

namespace {

void Put16(std::vector<uint8_t>& out, size_t at, uint16_t v) {
  out[at] = static_cast<uint8_t>(v >> 8);
  out[at + 1] = static_cast<uint8_t>(v);
}

uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }

}  // namespace

uint16_t InternetChecksum(const uint8_t* data, size_t size) {
  uint32_t sum = 0;
  for (size_t i = 0; i + 1 < size; i += 2) sum += Get16(data + i);
  if (size % 2) sum += static_cast<uint32_t>(data[size - 1]) << 8;
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<uint16_t>(~sum);
}

std::vector<uint8_t> IcmpEchoRequest(uint16_t identifier, uint16_t sequence) {
  std::vector<uint8_t> packet(32, 0);
  packet[0] = 8;  // echo request
  Put16(packet, 4, identifier);
  Put16(packet, 6, sequence);
  for (size_t at = 8; at < 32; at += 4) {
    // DEADBEEF as a little-endian 32-bit value, as the request carries it
    packet[at] = 0xEF;
    packet[at + 1] = 0xBE;
    packet[at + 2] = 0xAD;
    packet[at + 3] = 0xDE;
  }
  Put16(packet, 2, InternetChecksum(packet.data(), packet.size()));
  return packet;
}

bool IsEchoReply(const uint8_t* packet, size_t size, uint16_t identifier, uint16_t sequence) {
  if (size < 20 || (packet[0] >> 4) != 4) return false;
  size_t header = static_cast<size_t>(packet[0] & 0x0F) * 4;
  if (header < 20 || size < header + 8 || packet[9] != 1) return false;  // protocol 1: ICMP
  const uint8_t* icmp = packet + header;
  return icmp[0] == 0 && icmp[1] == 0 && Get16(icmp + 4) == identifier && Get16(icmp + 6) == sequence;
}

}  // namespace kestrix
