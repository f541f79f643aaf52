// DNS replies and SMTP replies from the network: parsed without trusting them.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "report_ui/mail/dns_message.h"
#include "report_ui/mail/smtp_reply.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kestrix::mail;
  if (size < 1) return 0;
  // The first byte picks the parser; the rest is what the peer sent.
  const uint8_t* body = data + 1;
  const size_t length = size - 1;
  if (data[0] & 1) {
    TDnsReply reply;
    const uint16_t type = (data[0] & 2) ? kDnsTypeMx : kDnsTypeNs;
    const uint16_t id = length >= 2 ? static_cast<uint16_t>(body[0] << 8 | body[1]) : 0;
    std::string name;
    size_t end = 0;
    if (ReadDnsName(body, length, 12, name, end) &&
        ParseDnsReply(body, length, id, name, type, reply)) {
      RecordNames(reply.answers, type);
      RecordNames(reply.authorities, kDnsTypeNs);
    }
  } else {
    TReplyReader reader("250", (data[0] & 2) != 0);
    // Fed in pieces, as it arrives from a socket.
    const size_t piece = 1 + data[0] / 4;
    for (size_t i = 0; i < length && reader.State() == TReplyReader::rsMore; i += piece)
      reader.Feed(reinterpret_cast<const char*>(body + i), std::min(piece, length - i));
  }
  return 0;
}
