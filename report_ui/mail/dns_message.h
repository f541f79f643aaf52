// DNS messages of the mail exchanger lookup: the query, and the reply read
// without trusting it (every offset checked against the packet, compression
// pointers followed a bounded number of times, the id and question matched).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kestrix::mail {

enum : uint16_t { kDnsTypeA = 1, kDnsTypeNs = 2, kDnsTypeMx = 15 };
constexpr size_t kDnsMaxMessage = 512;

// The query: the given id, recursion desired, one question of class IN.
// Empty when the name cannot be encoded (empty label, label over 63 bytes,
// name over 255 bytes).
std::string BuildDnsQuery(const std::string& name, uint16_t type, uint16_t id);

// Reads the (possibly compressed) name at `offset`; `end` receives the
// offset after the name in place. False on a name that leaves the message,
// loops or grows over 255 bytes.
bool ReadDnsName(const uint8_t* message, size_t size, size_t offset, std::string& name, size_t& end);

struct TDnsRecord {
  uint16_t type = 0;
  uint16_t preference = 0;  // MX
  std::string owner;
  std::string name;         // MX exchange, NS host
  uint32_t address = 0;     // A, in network order of bytes: a.b.c.d = a<<24|...
};

// Reads `count` records from `offset`; `end` receives the offset after them.
// False on a truncated or malformed record.
bool ReadRecordNames(const uint8_t* message, size_t size, size_t offset, int count,
                     std::vector<TDnsRecord>& records, size_t& end);

struct TDnsReply {
  int responseCode = 0;
  std::vector<TDnsRecord> answers, authorities, additional;
};

// A reply to the query (id, name, type). False when it is not one: too
// short, not a response, another id or question, or malformed. The
// response code is returned in the reply.
bool ParseDnsReply(const uint8_t* message, size_t size, uint16_t id, const std::string& name,
                   uint16_t type, TDnsReply& reply);

// The names of the given type among the records, MX ones by ascending
// preference (equal ones in the order of the reply).
std::vector<std::string> RecordNames(const std::vector<TDnsRecord>& records, uint16_t type);

// The domain of a mail address: after the first "@", without a trailing ">".
std::string MailDomain(const std::string& address);
// The domain's last three labels.
std::string BaseDomain(const std::string& domain);

}  // namespace kestrix::mail
