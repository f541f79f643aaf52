// DNS messages (see dns_message.h).
#include "report_ui/mail/dns_message.h"

#include <algorithm>
#include <cctype>

namespace kestrix::mail {

namespace {

uint16_t Word(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }

bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

std::string WithoutFinalDot(std::string name) {
  if (!name.empty() && name.back() == '.') name.pop_back();
  return name;
}

}  // namespace

std::string BuildDnsQuery(const std::string& name, uint16_t type, uint16_t id) {
  const std::string bare = WithoutFinalDot(name);
  if (bare.empty() || bare.size() > 253) return std::string();
  std::string q;
  q += static_cast<char>(id >> 8);
  q += static_cast<char>(id & 0xff);
  q += std::string("\x01\x00\x00\x01\x00\x00\x00\x00\x00\x00", 10);
  size_t start = 0;
  while (start <= bare.size()) {
    size_t dot = bare.find('.', start);
    if (dot == std::string::npos) dot = bare.size();
    const size_t length = dot - start;
    if (length == 0 || length > 63) return std::string();
    q += static_cast<char>(length);
    q += bare.substr(start, length);
    start = dot + 1;
  }
  q += '\0';
  q += static_cast<char>(type >> 8);
  q += static_cast<char>(type & 0xff);
  q += std::string("\x00\x01", 2);
  return q;
}

bool ReadDnsName(const uint8_t* message, size_t size, size_t offset, std::string& name, size_t& end) {
  name.clear();
  bool jumped = false;
  int jumps = 0;
  size_t wire = 0;
  for (;;) {
    if (offset >= size) return false;
    const uint8_t length = message[offset];
    if (length >= 0xc0) {
      if (offset + 1 >= size || ++jumps > 32) return false;
      const size_t target = (length & 0x3f) << 8 | message[offset + 1];
      if (!jumped) end = offset + 2;
      jumped = true;
      // A pointer goes back to an earlier name; anything else could loop.
      if (target >= offset) return false;
      offset = target;
      continue;
    }
    if (length >= 0x40) return false;  // reserved label types
    if (length == 0) {
      if (!jumped) end = offset + 1;
      return true;
    }
    if (offset + 1 + length > size || (wire += length + 1) > 255) return false;
    if (!name.empty()) name += '.';
    name.append(reinterpret_cast<const char*>(message + offset + 1), length);
    offset += 1 + length;
  }
}

bool ReadRecordNames(const uint8_t* message, size_t size, size_t offset, int count,
                     std::vector<TDnsRecord>& records, size_t& end) {
  for (int i = 0; i < count; ++i) {
    TDnsRecord record;
    size_t after = 0;
    if (!ReadDnsName(message, size, offset, record.owner, after) || after + 10 > size) return false;
    record.type = Word(message + after);
    const size_t dataLength = Word(message + after + 8);
    const size_t data = after + 10;
    if (data + dataLength > size) return false;
    const size_t dataEnd = data + dataLength;
    size_t nameEnd = 0;
    switch (record.type) {
      case kDnsTypeMx:
        if (dataLength < 3) return false;
        record.preference = Word(message + data);
        // The name must lie within the record data.
        if (!ReadDnsName(message, dataEnd, data + 2, record.name, nameEnd)) return false;
        break;
      case kDnsTypeNs:
        if (!ReadDnsName(message, dataEnd, data, record.name, nameEnd)) return false;
        break;
      case kDnsTypeA:
        if (dataLength != 4) return false;
        record.address = static_cast<uint32_t>(message[data]) << 24 | message[data + 1] << 16 |
                         message[data + 2] << 8 | message[data + 3];
        break;
      default:
        break;
    }
    records.push_back(std::move(record));
    offset = dataEnd;
  }
  end = offset;
  return true;
}

bool ParseDnsReply(const uint8_t* message, size_t size, uint16_t id, const std::string& name,
                   uint16_t type, TDnsReply& reply) {
  reply = TDnsReply();
  if (size < 12 || Word(message) != id || !(message[2] & 0x80) || (message[2] & 0x78) != 0) return false;
  if (Word(message + 4) != 1) return false;
  std::string question;
  size_t offset = 0;
  if (!ReadDnsName(message, size, 12, question, offset) || offset + 4 > size) return false;
  if (!SameName(question, WithoutFinalDot(name)) || Word(message + offset) != type || Word(message + offset + 2) != 1)
    return false;
  offset += 4;
  reply.responseCode = message[3] & 0x0f;
  if (reply.responseCode != 0) return true;
  // Records are read as far as they are whole: a truncated reply keeps the
  // sections before the cut.
  size_t end = offset;
  if (!ReadRecordNames(message, size, offset, Word(message + 6), reply.answers, end)) {
    reply.answers.clear();
    return false;
  }
  if (ReadRecordNames(message, size, end, Word(message + 8), reply.authorities, end))
    ReadRecordNames(message, size, end, Word(message + 10), reply.additional, end);
  return true;
}

std::vector<std::string> RecordNames(const std::vector<TDnsRecord>& records, uint16_t type) {
  std::vector<const TDnsRecord*> picked;
  for (const TDnsRecord& r : records)
    if (r.type == type && !r.name.empty()) picked.push_back(&r);
  if (type == kDnsTypeMx)
    std::stable_sort(picked.begin(), picked.end(),
                     [](const TDnsRecord* a, const TDnsRecord* b) { return a->preference < b->preference; });
  std::vector<std::string> names;
  for (const TDnsRecord* r : picked)
    if (std::find(names.begin(), names.end(), r->name) == names.end()) names.push_back(r->name);
  return names;
}

std::string MailDomain(const std::string& address) {
  const size_t at = address.find('@');
  if (at == std::string::npos) return std::string();
  std::string domain = address.substr(at + 1);
  const size_t gt = domain.find('>');
  if (gt != std::string::npos) domain.erase(gt);
  while (!domain.empty() && static_cast<unsigned char>(domain.back()) <= ' ') domain.pop_back();
  return domain;
}

std::string BaseDomain(const std::string& domain) {
  size_t pos = domain.size();
  for (int dots = 0; dots < 3; ++dots) {
    pos = pos == 0 ? std::string::npos : domain.rfind('.', pos - 1);
    if (pos == std::string::npos) return domain;
  }
  return domain.substr(pos + 1);
}

}  // namespace kestrix::mail
