#include "crash/settings/settings_record.h"

#include <cstring>
#include <stdexcept>

namespace kestrix {

const unsigned char kRecordPrefix[21] = {
    'T', 'P', 'F', '0',                                  //
    8,   'T', 'K', 'e', 's', 't', 'r', 'i', 'x',         // class name
    7,   'K', 'e', 's', 't', 'r', 'i', 'x'};             // object name

std::string WideToLatin1(const char16_t* units, size_t count) {
  std::string out;
  out.reserve(count);
  for (size_t i = 0; i < count; ++i)
    out.push_back(units[i] < 0x100 ? static_cast<char>(units[i]) : '?');
  return out;
}

namespace {

// Bounds-checked little-endian reader over the record bytes.
class TReader {
 public:
  TReader(const unsigned char* data, size_t size) : p_(data), end_(data + size) {}

  size_t Left() const { return static_cast<size_t>(end_ - p_); }
  const unsigned char* Position() const { return p_; }
  bool Byte(uint8_t& v) {
    if (Left() < 1) return false;
    v = *p_++;
    return true;
  }
  bool U16(uint16_t& v) {
    if (Left() < 2) return false;
    v = static_cast<uint16_t>(p_[0] | p_[1] << 8);
    p_ += 2;
    return true;
  }
  bool U32(uint32_t& v) {
    if (Left() < 4) return false;
    v = static_cast<uint32_t>(p_[0]) | static_cast<uint32_t>(p_[1]) << 8 |
        static_cast<uint32_t>(p_[2]) << 16 | static_cast<uint32_t>(p_[3]) << 24;
    p_ += 4;
    return true;
  }
  bool Chars(size_t n, std::string& out) {
    if (Left() < n) return false;
    out.assign(reinterpret_cast<const char*>(p_), n);
    p_ += n;
    return true;
  }
  bool Wide(size_t units, std::u16string& out) {
    if (Left() / 2 < units) return false;
    out.resize(units);
    for (size_t i = 0; i < units; ++i)
      out[i] = static_cast<char16_t>(p_[2 * i] | p_[2 * i + 1] << 8);
    p_ += 2 * units;
    return true;
  }

 private:
  const unsigned char* p_;
  const unsigned char* end_;
};

// Reads one value of the given type into the property; false when the data
// ends inside it.
bool ReadValue(TReader& in, uint8_t type, TRecordProperty& prop, TWideToAnsi toAnsi) {
  prop.valueType = type;
  switch (type) {
    case vaInt8: {
      uint8_t v;
      if (!in.Byte(v)) return false;
      prop.kind = pkInteger;
      prop.intValue = static_cast<int8_t>(v);
      return true;
    }
    case vaInt16: {
      uint16_t v;
      if (!in.U16(v)) return false;
      prop.kind = pkInteger;
      prop.intValue = static_cast<int16_t>(v);
      return true;
    }
    case vaInt32: {
      uint32_t v;
      if (!in.U32(v)) return false;
      prop.kind = pkInteger;
      prop.intValue = static_cast<int32_t>(v);
      return true;
    }
    case vaString: {
      uint8_t n;
      prop.kind = pkText;
      return in.Byte(n) && in.Chars(n, prop.textValue);
    }
    case vaLString: {
      uint32_t n;
      prop.kind = pkText;
      return in.U32(n) && in.Chars(n, prop.textValue);
    }
    case vaWString: {
      uint32_t n;
      std::u16string wide;
      prop.kind = pkText;
      if (!in.U32(n) || !in.Wide(n, wide)) return false;
      prop.textValue = toAnsi(wide.data(), wide.size());
      return true;
    }
    case vaFalse:
    case vaTrue:
      prop.kind = pkBoolean;
      prop.boolValue = type == vaTrue;
      return true;
  }
  return false;  // not reached for known types
}

bool IsKnownType(uint8_t type) {
  switch (type) {
    case vaInt8: case vaInt16: case vaInt32: case vaString:
    case vaFalse: case vaTrue: case vaLString: case vaWString:
      return true;
  }
  return false;
}

}  // namespace

TRecordParseResult ParseSettingsRecord(const void* data, size_t size, TWideToAnsi toAnsi) {
  TRecordParseResult result;
  const auto* bytes = static_cast<const unsigned char*>(data);
  if (!bytes || size < kRecordPrefixSize ||
      std::memcmp(bytes, kRecordPrefix, kRecordPrefixSize) != 0) {
    result.status = TRecordStatus::NoPrefix;
    return result;
  }
  if (!toAnsi) toAnsi = WideToLatin1;
  TReader in(bytes + kRecordPrefixSize, size - kRecordPrefixSize);
  for (;;) {
    uint8_t nameLength;
    if (!in.Byte(nameLength)) {
      result.status = TRecordStatus::Truncated;
      return result;
    }
    if (nameLength == 0) return result;  // end marker
    TRecordProperty prop;
    uint8_t type;
    if (!in.Chars(nameLength, prop.name) || !in.Byte(type)) {
      result.status = TRecordStatus::Truncated;
      return result;
    }
    if (!IsKnownType(type)) {
      result.status = TRecordStatus::UnknownType;
      result.badType = type;
      return result;
    }
    if (!ReadValue(in, type, prop, toAnsi)) {
      result.status = TRecordStatus::Truncated;
      return result;
    }
    result.properties.push_back(std::move(prop));
  }
}

std::vector<unsigned char> SetRecordProperty(const void* data, size_t size, const TRecordProperty& property) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  if (!bytes || size < kRecordPrefixSize || std::memcmp(bytes, kRecordPrefix, kRecordPrefixSize) != 0)
    throw std::invalid_argument("not a settings record");
  std::vector<unsigned char> out(bytes, bytes + kRecordPrefixSize);
  TReader in(bytes + kRecordPrefixSize, size - kRecordPrefixSize);
  for (;;) {
    const unsigned char* entry = in.Position();
    uint8_t nameLength, type;
    TRecordProperty prop;
    if (!in.Byte(nameLength)) throw std::invalid_argument("settings record truncated");
    if (nameLength == 0) break;
    if (!in.Chars(nameLength, prop.name) || !in.Byte(type) || !IsKnownType(type) ||
        !ReadValue(in, type, prop, WideToLatin1))
      throw std::invalid_argument("settings record damaged");
    if (prop.name != property.name) out.insert(out.end(), entry, in.Position());
  }
  const std::vector<unsigned char> added = WriteSettingsRecord({property});
  out.insert(out.end(), added.begin() + kRecordPrefixSize, added.end());
  return out;
}

std::string InvalidRecordMessage(const TRecordParseResult& result) {
  std::string detail;
  if (result.status == TRecordStatus::UnknownType) {
    static const char digits[] = "0123456789abcdef";
    uint8_t v = result.badType;
    if (v >= 16) detail += digits[v >> 4];
    detail += digits[v & 15];
  } else {
    detail = "truncated";
  }
  return "Internal error: Invalid settings resource (" + detail + ").";
}

bool Utf8ToUtf16(const std::string& text, std::u16string& out) {
  static const uint32_t minimum[] = {0, 0x80, 0x800, 0x10000};
  out.clear();
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  const size_t n = text.size();
  for (size_t i = 0; i < n;) {
    uint32_t c = s[i];
    size_t extra = c < 0x80 ? 0 : (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2
                             : (c & 0xF8) == 0xF0 ? 3 : 4;
    if (extra == 4 || n - i <= extra) return false;
    if (extra > 0) c &= 0x3Fu >> extra;
    for (size_t k = 1; k <= extra; ++k) {
      if ((s[i + k] & 0xC0) != 0x80) return false;
      c = c << 6 | (s[i + k] & 0x3F);
    }
    if (c < minimum[extra] || c > 0x10FFFF || (c >= 0xD800 && c < 0xE000)) return false;
    if (c >= 0x10000) {
      c -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 | c >> 10));
      out.push_back(static_cast<char16_t>(0xDC00 | (c & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(c));
    }
    i += 1 + extra;
  }
  return true;
}

namespace {

bool IsAscii(const std::string& s) {
  for (unsigned char c : s)
    if (c >= 0x80) return false;
  return true;
}

void PutU32(std::vector<unsigned char>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<unsigned char>(v >> (8 * i)));
}

}  // namespace

uint8_t ChooseValueType(const TRecordProperty& p) {
  if (p.valueType != 0) return p.valueType;
  switch (p.kind) {
    case pkBoolean:
      return p.boolValue ? vaTrue : vaFalse;
    case pkInteger:
      if (p.intValue >= -128 && p.intValue <= 127) return vaInt8;
      if (p.intValue >= -32768 && p.intValue <= 32767) return vaInt16;
      return vaInt32;
    case pkText:
      if (!IsAscii(p.textValue)) return vaWString;
      return p.textValue.size() <= 255 ? vaString : vaLString;
  }
  throw std::invalid_argument("setting '" + p.name + "': unknown kind");
}

std::vector<unsigned char> WriteSettingsRecord(const std::vector<TRecordProperty>& properties) {
  std::vector<unsigned char> out(kRecordPrefix, kRecordPrefix + kRecordPrefixSize);
  for (const TRecordProperty& p : properties) {
    auto fail = [&p](const std::string& why) {
      throw std::invalid_argument("setting '" + p.name + "': " + why);
    };
    if (p.name.empty() || p.name.size() > 255) fail("name must be 1 to 255 bytes long");
    uint8_t type = ChooseValueType(p);
    out.push_back(static_cast<unsigned char>(p.name.size()));
    out.insert(out.end(), p.name.begin(), p.name.end());
    out.push_back(type);
    switch (type) {
      case vaInt8:
        if (p.intValue < -128 || p.intValue > 127) fail("value does not fit 8 bits");
        out.push_back(static_cast<unsigned char>(p.intValue));
        break;
      case vaInt16:
        if (p.intValue < -32768 || p.intValue > 32767) fail("value does not fit 16 bits");
        out.push_back(static_cast<unsigned char>(p.intValue));
        out.push_back(static_cast<unsigned char>(p.intValue >> 8));
        break;
      case vaInt32:
        PutU32(out, static_cast<uint32_t>(p.intValue));
        break;
      case vaString:
        if (p.textValue.size() > 255) fail("text longer than 255 bytes for a short string");
        out.push_back(static_cast<unsigned char>(p.textValue.size()));
        out.insert(out.end(), p.textValue.begin(), p.textValue.end());
        break;
      case vaLString:
        PutU32(out, static_cast<uint32_t>(p.textValue.size()));
        out.insert(out.end(), p.textValue.begin(), p.textValue.end());
        break;
      case vaWString: {
        std::u16string wide;
        if (!Utf8ToUtf16(p.textValue, wide)) fail("text is not valid UTF-8");
        PutU32(out, static_cast<uint32_t>(wide.size()));
        for (char16_t u : wide) {
          out.push_back(static_cast<unsigned char>(u));
          out.push_back(static_cast<unsigned char>(u >> 8));
        }
        break;
      }
      case vaFalse:
      case vaTrue:
        break;
      default:
        fail("unknown value type " + std::to_string(type));
    }
  }
  out.push_back(0);
  return out;
}

}  // namespace kestrix
