// Readable form files (see form_text.h).
#include "report_ui/assistant/form_text.h"

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace kestrix {

namespace {

class TFormTextParser {
 public:
  explicit TFormTextParser(const std::string& text) : text_(text) {}

  TFormObject Parse() {
    Next();
    TFormObject root = Object(0);
    if (kind_ != tkEnd) Fail("text after the last \"end\"");
    return root;
  }

 private:
  enum TToken { tkEnd, tkWord, tkNumber, tkString, tkColon, tkEquals };

  [[noreturn]] void Fail(const std::string& why) {
    throw std::invalid_argument("line " + std::to_string(tokenLine_) + ": " + why);
  }

  static bool WordChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '.';
  }

  // Appends the UTF-8 sequence at pos_ as one Latin-1 byte.
  void Latin1(std::string& out) {
    auto c = static_cast<unsigned char>(text_[pos_]);
    if (c < 0x80) {
      out += static_cast<char>(c);
      ++pos_;
      return;
    }
    if ((c & 0xE0) == 0xC0 && pos_ + 1 < text_.size() && (static_cast<unsigned char>(text_[pos_ + 1]) & 0xC0) == 0x80) {
      unsigned code = ((c & 0x1F) << 6) | (static_cast<unsigned char>(text_[pos_ + 1]) & 0x3F);
      if (code >= 0x80 && code <= 0xFF) {
        out += static_cast<char>(code);
        pos_ += 2;
        return;
      }
    }
    Fail("only characters of Latin-1 (as UTF-8) can be stored in a form");
  }

  void Next() {
    for (;;) {
      while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t' || text_[pos_] == '\r' ||
                                     text_[pos_] == '\n')) {
        if (text_[pos_] == '\n') ++line_;
        ++pos_;
      }
      if (text_.compare(pos_, 2, "//") != 0) break;
      while (pos_ < text_.size() && text_[pos_] != '\n') ++pos_;
    }
    tokenLine_ = line_;
    value_.clear();
    if (pos_ >= text_.size()) {
      kind_ = tkEnd;
      return;
    }
    char c = text_[pos_];
    if (c == ':' || c == '=') {
      kind_ = c == ':' ? tkColon : tkEquals;
      ++pos_;
    } else if (c == '\'') {
      kind_ = tkString;
      ++pos_;
      for (;;) {
        if (pos_ >= text_.size() || text_[pos_] == '\n') Fail("string not closed");
        if (text_[pos_] == '\'') {
          if (pos_ + 1 < text_.size() && text_[pos_ + 1] == '\'') {
            value_ += '\'';
            pos_ += 2;
            continue;
          }
          ++pos_;
          break;
        }
        Latin1(value_);
      }
    } else if (c == '-' || (c >= '0' && c <= '9')) {
      kind_ = tkNumber;
      value_ += c;
      ++pos_;
      while (pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9') value_ += text_[pos_++];
      if (value_ == "-") Fail("a number expected after \"-\"");
    } else if (WordChar(c)) {
      kind_ = tkWord;
      while (pos_ < text_.size() && WordChar(text_[pos_])) value_ += text_[pos_++];
    } else {
      Fail(std::string("unexpected character \"") + c + "\"");
    }
  }

  std::string Expect(TToken kind, const char* what) {
    if (kind_ != kind) Fail(std::string(what) + " expected");
    std::string v = value_;
    Next();
    return v;
  }

  static bool Is(const std::string& word, const char* keyword) {
    if (word.size() != strlen(keyword)) return false;
    for (size_t i = 0; i < word.size(); ++i)
      if (tolower(static_cast<unsigned char>(word[i])) != keyword[i]) return false;
    return true;
  }

  TFormObject Object(int depth) {
    if (kind_ != tkWord || !Is(value_, "object")) Fail("\"object\" expected");
    if (depth > kFormMaxDepth) Fail("objects nested too deeply");
    Next();
    TFormObject object;
    object.name = Expect(tkWord, "an object name");
    Expect(tkColon, "\":\"");
    object.className = Expect(tkWord, "a class name");
    for (;;) {
      if (kind_ == tkEnd) Fail("\"end\" missing for " + object.name);
      if (kind_ != tkWord) Fail("a property name, \"object\" or \"end\" expected");
      if (Is(value_, "end")) {
        Next();
        return object;
      }
      if (Is(value_, "object")) {
        object.children.push_back(Object(depth + 1));
        continue;
      }
      TFormProperty p;
      p.name = value_;
      Next();
      Expect(tkEquals, "\"=\"");
      switch (kind_) {
        case tkString:
          p.type = fvString;
          p.text = value_;
          break;
        case tkNumber: {
          long long v = strtoll(value_.c_str(), nullptr, 10);
          if (value_.size() > 11 || v < INT32_MIN || v > INT32_MAX) Fail("integer out of range: " + value_);
          p.type = fvInt32;
          p.intValue = static_cast<int32_t>(v);
          break;
        }
        case tkWord:
          if (Is(value_, "true")) {
            p.type = fvTrue;
          } else if (Is(value_, "false")) {
            p.type = fvFalse;
          } else {
            p.type = fvIdent;
            p.text = value_;
          }
          break;
        default:
          Fail("a value expected for " + p.name);
      }
      Next();
      object.properties.push_back(std::move(p));
    }
  }

  const std::string& text_;
  size_t pos_ = 0;
  int line_ = 1;
  int tokenLine_ = 1;
  TToken kind_ = tkEnd;
  std::string value_;
};

std::string Quoted(const std::string& latin1) {
  std::string out = "'";
  for (char ch : latin1) {
    auto c = static_cast<unsigned char>(ch);
    if (c == '\'') {
      out += "''";
    } else if (c >= 0x80) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += ch;
    }
  }
  return out + "'";
}

void WriteText(std::string& out, const TFormObject& object, const std::string& indent) {
  out += indent + "object " + object.name + ": " + object.className + "\n";
  for (const TFormProperty& p : object.properties) {
    out += indent + "  " + p.name + " = ";
    switch (p.type) {
      case fvFalse: out += "False"; break;
      case fvTrue: out += "True"; break;
      case fvIdent: out += p.text; break;
      case fvString:
      case fvLString: out += Quoted(p.text); break;
      default: out += std::to_string(p.intValue);
    }
    out += "\n";
  }
  for (const TFormObject& child : object.children) WriteText(out, child, indent + "  ");
  out += indent + "end\n";
}

}  // namespace

TFormObject ParseFormText(const std::string& text) { return TFormTextParser(text).Parse(); }

std::string FormText(const TFormObject& root) {
  std::string out;
  WriteText(out, root, "");
  return out;
}

}  // namespace kestrix
