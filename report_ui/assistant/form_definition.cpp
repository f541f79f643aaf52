// Binary form definitions (see form_definition.h).
#include "report_ui/assistant/form_definition.h"

#include <cstdio>
#include <stdexcept>

#include "crash/base/little_endian.h"

namespace kestrix {

namespace {

class TReader {
 public:
  TReader(const uint8_t* data, size_t size) : p_(data), end_(data + size) {}

  bool Byte(uint8_t& v) {
    if (p_ == end_) return false;
    v = *p_++;
    return true;
  }
  bool Bytes(size_t n, std::string& out) {
    if (static_cast<size_t>(end_ - p_) < n) return false;
    out.assign(reinterpret_cast<const char*>(p_), n);
    p_ += n;
    return true;
  }
  bool ShortString(std::string& out) {
    uint8_t n;
    return Byte(n) && Bytes(n, out);
  }
  bool Int(size_t n, int32_t& v) {
    if (static_cast<size_t>(end_ - p_) < n) return false;
    if (n == 1) v = static_cast<int8_t>(p_[0]);
    if (n == 2) v = static_cast<int16_t>(Word(p_));
    if (n == 4) v = static_cast<int32_t>(Dword(p_));
    p_ += n;
    return true;
  }
  bool LongString(std::string& out) {
    int32_t n;
    return Int(4, n) && n >= 0 && Bytes(static_cast<size_t>(n), out);
  }

 private:
  const uint8_t* p_;
  const uint8_t* end_;
};

std::string Hex(uint8_t v) {
  char text[8];
  snprintf(text, sizeof text, "%02x", v);
  return text;
}

constexpr char kTruncated[] = "end of data";

// Reads an object whose class name is read: its name, properties and
// children. False with `error` set on the first fault; what was read stays.
bool ReadObjectBody(TReader& r, TFormObject& object, int depth, std::string& error) {
  if (!r.ShortString(object.name)) return error = kTruncated, false;
  for (;;) {
    uint8_t length;
    if (!r.Byte(length)) return error = kTruncated, false;
    if (length == 0) break;
    TFormProperty p;
    if (!r.Bytes(length, p.name) || !r.Byte(p.type)) return error = kTruncated, false;
    bool ok = true;
    switch (p.type) {
      case fvInt8: ok = r.Int(1, p.intValue); break;
      case fvInt16: ok = r.Int(2, p.intValue); break;
      case fvInt32: ok = r.Int(4, p.intValue); break;
      case fvString:
      case fvIdent: ok = r.ShortString(p.text); break;
      case fvFalse:
      case fvTrue: break;
      case fvLString: ok = r.LongString(p.text); break;
      default: error = Hex(p.type); return false;
    }
    if (!ok) return error = kTruncated, false;
    object.properties.push_back(std::move(p));
  }
  for (;;) {
    uint8_t length;
    if (!r.Byte(length)) return error = kTruncated, false;
    if (length == 0) return true;
    if (depth >= kFormMaxDepth) return error = "nested too deeply", false;
    TFormObject child;
    if (!r.Bytes(length, child.className)) return error = kTruncated, false;
    bool ok = ReadObjectBody(r, child, depth + 1, error);
    object.children.push_back(std::move(child));
    if (!ok) return false;
  }
}

void PutShort(std::vector<uint8_t>& out, const std::string& text, const char* what) {
  if (text.size() > 255) throw std::invalid_argument(std::string(what) + " longer than 255 bytes: " + text.substr(0, 40));
  out.push_back(static_cast<uint8_t>(text.size()));
  out.insert(out.end(), text.begin(), text.end());
}

void PutInt(std::vector<uint8_t>& out, int32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(static_cast<uint32_t>(v) >> (8 * i)));
}

void WriteObject(std::vector<uint8_t>& out, const TFormObject& object) {
  PutShort(out, object.className, "class name");
  PutShort(out, object.name, "object name");
  for (const TFormProperty& p : object.properties) {
    if (p.name.empty()) throw std::invalid_argument("property without name in " + object.name);
    PutShort(out, p.name, "property name");
    switch (p.type) {
      case fvInt8:
      case fvInt16:
      case fvInt32:
        if (p.intValue >= -128 && p.intValue <= 127) {
          out.push_back(fvInt8);
          PutInt(out, p.intValue, 1);
        } else if (p.intValue >= -32768 && p.intValue <= 32767) {
          out.push_back(fvInt16);
          PutInt(out, p.intValue, 2);
        } else {
          out.push_back(fvInt32);
          PutInt(out, p.intValue, 4);
        }
        break;
      case fvString:
      case fvLString:
        if (p.text.size() <= 255) {
          out.push_back(fvString);
          PutShort(out, p.text, "string");
        } else {
          out.push_back(fvLString);
          PutInt(out, static_cast<int32_t>(p.text.size()), 4);
          out.insert(out.end(), p.text.begin(), p.text.end());
        }
        break;
      case fvIdent:
        out.push_back(fvIdent);
        PutShort(out, p.text, "identifier");
        break;
      case fvFalse:
      case fvTrue:
        out.push_back(p.type);
        break;
      default:
        throw std::invalid_argument("unknown value type of " + p.name);
    }
  }
  out.push_back(0);
  for (const TFormObject& child : object.children) WriteObject(out, child);
  out.push_back(0);
}

}  // namespace

std::string TFormProperty::ValueText() const {
  switch (type) {
    case fvInt8:
    case fvInt16:
    case fvInt32: return std::to_string(intValue);
    case fvFalse: return "0";
    case fvTrue: return "1";
    default: return text;
  }
}

std::string InvalidFormResourceText(const std::string& what) {
  return "Internal error: Invalid assistant resource (" + what + ").";
}

std::string FormResourceName(const std::string& formName) {
  std::string name = "TKX";
  for (char c : formName) name += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
  return name;
}

TFormReadResult ReadFormDefinition(const void* data, size_t size) {
  TFormReadResult result;
  auto* bytes = static_cast<const uint8_t*>(data);
  if (size < 4 || std::string(reinterpret_cast<const char*>(bytes), 4) != "TPF0") {
    result.valid = true;  // no definition: an empty page
    return result;
  }
  TReader r(bytes + 4, size - 4);
  std::string error;
  if (!r.ShortString(result.root.className)) {
    error = kTruncated;
  } else if (ReadObjectBody(r, result.root, 0, error)) {
    result.valid = true;
    return result;
  }
  result.error = InvalidFormResourceText(error);
  return result;
}

std::vector<uint8_t> WriteFormDefinition(const TFormObject& root) {
  std::vector<uint8_t> out = {'T', 'P', 'F', '0'};
  WriteObject(out, root);
  return out;
}

}  // namespace kestrix
