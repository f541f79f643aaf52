#include "crash/settings/settings_file.h"

#include <cerrno>
#include <cstdlib>
#include <set>

#include "crash/settings/kx_cipher.h"
#include "crash/settings/settings_defaults.h"

namespace kestrix {

namespace {

struct TTypeName {
  const char* name;
  TPropertyKind kind;
  uint8_t valueType;  // 0: chosen by the writer
};

const TTypeName kTypeNames[] = {
    {"boolean", pkBoolean, 0}, {"integer", pkInteger, 0}, {"text", pkText, 0},
    {"int8", pkInteger, vaInt8}, {"int16", pkInteger, vaInt16},
    {"int32", pkInteger, vaInt32}, {"string", pkText, vaString},
    {"lstring", pkText, vaLString}, {"wstring", pkText, vaWString},
};

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r'; }
bool IsNameChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
         c == '_' || c == '.';
}

class TLineParser {
 public:
  TLineParser(const std::string& line, int number) : s_(line), line_(number) {}

  [[noreturn]] void Fail(const std::string& message) const {
    throw TSettingsFileError(line_, message);
  }
  void SkipSpaces() {
    while (pos_ < s_.size() && IsSpace(s_[pos_])) ++pos_;
  }
  bool AtEnd() {
    SkipSpaces();
    return pos_ >= s_.size() || s_[pos_] == '#';
  }
  bool Accept(char c) {
    SkipSpaces();
    if (pos_ < s_.size() && s_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }
  std::string Word() {
    SkipSpaces();
    size_t start = pos_;
    while (pos_ < s_.size() && IsNameChar(s_[pos_])) ++pos_;
    return s_.substr(start, pos_ - start);
  }
  // A double-quoted text with C-style escapes.
  std::string Quoted() {
    SkipSpaces();
    if (pos_ >= s_.size() || s_[pos_] != '"') Fail("a text value must be in double quotes");
    ++pos_;
    std::string out;
    for (;;) {
      if (pos_ >= s_.size()) Fail("unterminated text");
      char c = s_[pos_++];
      if (c == '"') return out;
      if (c != '\\') {
        out += c;
        continue;
      }
      if (pos_ >= s_.size()) Fail("unterminated text");
      char e = s_[pos_++];
      switch (e) {
        case '"': out += '"'; break;
        case '\\': out += '\\'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'x': {
          int v = 0;
          for (int k = 0; k < 2; ++k) {
            char h = pos_ < s_.size() ? s_[pos_++] : '\0';
            int d = h >= '0' && h <= '9' ? h - '0' : h >= 'a' && h <= 'f' ? h - 'a' + 10
                  : h >= 'A' && h <= 'F' ? h - 'A' + 10 : -1;
            if (d < 0) Fail("\\x needs two hexadecimal digits");
            v = v * 16 + d;
          }
          out += static_cast<char>(v);
          break;
        }
        default:
          Fail(std::string("unknown escape \\") + e);
      }
    }
  }
  int32_t Integer() {
    SkipSpaces();
    size_t start = pos_;
    if (pos_ < s_.size() && (s_[pos_] == '-' || s_[pos_] == '+')) ++pos_;
    while (pos_ < s_.size() && IsNameChar(s_[pos_])) ++pos_;
    std::string token = s_.substr(start, pos_ - start);
    if (token.empty()) Fail("an integer value is missing");
    errno = 0;
    char* end = nullptr;
    long long v = std::strtoll(token.c_str(), &end, 0);
    if (*end != '\0' || errno == ERANGE || v < INT32_MIN || v > INT32_MAX)
      Fail("'" + token + "' is not a 32-bit integer");
    return static_cast<int32_t>(v);
  }

 private:
  const std::string& s_;
  int line_;
  size_t pos_ = 0;
};

const TTypeName* FindTypeName(const std::string& name) {
  for (const TTypeName& t : kTypeNames)
    if (name == t.name) return &t;
  return nullptr;
}

const char* KindName(TPropertyKind kind) {
  return kind == pkBoolean ? "boolean" : kind == pkInteger ? "integer" : "text";
}

}  // namespace

std::vector<TRecordProperty> ParseSettingsFile(const std::string& text) {
  std::vector<TRecordProperty> result;
  std::set<std::string> seen;
  size_t start = 0;
  int number = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    ++number;
    TLineParser in(line, number);
    if (in.AtEnd()) continue;

    TRecordProperty prop;
    prop.name = in.Word();
    if (prop.name.empty()) in.Fail("a setting name is expected");
    if (prop.name.size() > 255) in.Fail("setting name longer than 255 characters");
    if (!seen.insert(prop.name).second) in.Fail("'" + prop.name + "' is set twice");

    TPropertyKind known;
    bool isKnown = KnownSettingKind(prop.name.c_str(), known);
    if (in.Accept(':')) {
      std::string typeName = in.Word();
      const TTypeName* type = FindTypeName(typeName);
      if (!type) in.Fail("unknown type '" + typeName + "'");
      if (isKnown && type->kind != known)
        in.Fail("'" + prop.name + "' is a " + KindName(known) + " setting");
      prop.kind = type->kind;
      prop.valueType = type->valueType;
    } else if (isKnown) {
      prop.kind = known;
    } else {
      in.Fail("unknown setting '" + prop.name + "' needs a type (name : type = value)");
    }
    if (!in.Accept('=')) in.Fail("'=' expected after the setting name");

    switch (prop.kind) {
      case pkBoolean: {
        std::string v = in.Word();
        if (v == "true") prop.boolValue = true;
        else if (v == "false") prop.boolValue = false;
        else in.Fail("'" + prop.name + "' needs true or false");
        break;
      }
      case pkInteger:
        prop.intValue = in.Integer();
        break;
      case pkText:
        prop.textValue = in.Quoted();
        break;
    }
    if (!in.AtEnd()) in.Fail("unexpected text after the value");
    try {
      WriteSettingsRecord({prop});  // the writer's own checks, with a line number
    } catch (const std::invalid_argument& e) {
      in.Fail(e.what());
    }
    result.push_back(std::move(prop));
  }
  return result;
}

void EncipherPasswords(std::vector<TRecordProperty>& properties) {
  auto text = [&properties](const char* name) -> std::string {
    for (const TRecordProperty& p : properties)
      if (p.name == name && p.kind == pkText) return p.textValue;
    return std::string();
  };
  for (TRecordProperty& p : properties) {
    if (p.kind != pkText || p.textValue.empty()) continue;
    if (p.name == "SmtpPassword")
      p.textValue = EncodePassword(p.textValue, text("SmtpAccount"), text("SmtpServer"));
    else if (p.name == "HttpPassword")
      p.textValue = EncodePassword(p.textValue, text("HttpAccount"), text("HttpServer"));
  }
}

std::string FormatSettingsFile(const std::vector<TRecordProperty>& properties) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (const TRecordProperty& p : properties) {
    out += p.name;
    TPropertyKind known;
    bool typed = !KnownSettingKind(p.name.c_str(), known) || known != p.kind;
    if (typed) {
      out += " : ";
      out += KindName(p.kind);
    }
    out += " = ";
    switch (p.kind) {
      case pkBoolean:
        out += p.boolValue ? "true" : "false";
        break;
      case pkInteger:
        out += std::to_string(p.intValue);
        break;
      case pkText:
        out += '"';
        for (unsigned char c : p.textValue) {
          if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
          } else if (c < 0x20 || c == 0x7F) {
            out += "\\x";
            out += digits[c >> 4];
            out += digits[c & 15];
          } else {
            out += static_cast<char>(c);
          }
        }
        out += '"';
        break;
    }
    out += '\n';
  }
  return out;
}

}  // namespace kestrix
