// The text of one instruction line: mnemonic notations, operands by the
// attribute word, branch targets, and the name and string annotations.
#include "debuginfo/decoder/formatter.h"

#include <cstdio>
#include <cstring>
#include <string_view>

#include "debuginfo/decoder/opcode_tables.h"

namespace kestrix::decoder {
namespace {

using namespace attr;

constexpr size_t kOperandColumn = 19;
constexpr size_t kAnnotationColumn = 40;
constexpr uint32_t kStringWindow = 100;

// The instruction part of a line, composed without allocations (operands
// are bounded: at most about 80 characters).
class LineBuffer {
 public:
  void operator+=(char c) {
    if (n_ < sizeof b_) b_[n_++] = c;
  }
  void operator+=(const char* s) {
    while (*s) *this += *s++;
  }
  void append(const char* p, size_t n) {
    if (n > sizeof b_ - n_) n = sizeof b_ - n_;
    std::memcpy(b_ + n_, p, n);
    n_ += n;
  }
  void append(size_t count, char c) {
    while (count-- > 0) *this += c;
  }
  size_t size() const { return n_; }
  char back() const { return b_[n_ - 1]; }
  char operator[](size_t i) const { return b_[i]; }
  void erase(size_t pos, size_t count) {
    std::memmove(b_ + pos, b_ + pos + count, n_ - pos - count);
    n_ -= count;
  }
  std::string str() const { return std::string(b_, n_); }

 private:
  char b_[160];
  size_t n_ = 0;
};

void AppendHex(LineBuffer& s, uint32_t v, int minDigits) {
  constexpr char digits[] = "0123456789abcdef";
  char buf[8];
  int n = 0;
  do {
    buf[n++] = digits[v & 15];
    v >>= 4;
  } while (v != 0 && n < 8);
  while (n < minDigits) buf[n++] = '0';
  while (n > 0) s += buf[--n];
}

// Values up to 9 in decimal, larger ones as "$" and hexadecimal digits:
// 2 or 4 digits up to $FFFF, 8 above.
void AppendValue(LineBuffer& s, uint32_t v) {
  if (v <= 9) {
    s += static_cast<char>('0' + v);
  } else {
    s += '$';
    AppendHex(s, v, v <= 0xFF ? 2 : v <= 0xFFFF ? 4 : 8);
  }
}

void AppendSigned(LineBuffer& s, int32_t v, bool plus) {
  if (v < 0) {
    s += '-';
    AppendValue(s, 0u - static_cast<uint32_t>(v));
  } else {
    if (plus) s += '+';
    AppendValue(s, static_cast<uint32_t>(v));
  }
}

template <typename Text>
void PadTo(Text& s, size_t column) {
  if (s.size() < column) s.append(column - s.size(), ' ');
}

bool IsX87(const TDecodedInstruction& d) { return d.info.opcode >= 0xD8 && d.info.opcode <= 0xDF; }
bool OpSize(const TDecodedInstruction& d) { return d.prefixes & kPrefixOpSize; }
bool Addr16(const TDecodedInstruction& d) { return d.prefixes & kPrefixAddrSize; }
// F2 or F3 chosen as the mandatory prefix of a two-byte opcode.
uint8_t SsePrefix(const TDecodedInstruction& d) { return d.info.opcode >= 0x100 ? d.lastRepPrefix : 0; }

// Register operand sizes that the mandatory F2/F3 prefixes change.
enum class Kind { kNone, kR8, kR16, kR32, kMmx, kXmm, kSt, kStI, kSeg, kCr, kDr };

Kind RegFieldKind(const TDecodedInstruction& d) {
  const uint16_t a = d.attributes;
  const uint16_t op = d.info.opcode;
  const uint8_t sse = SsePrefix(d);
  switch (a & kRegMask) {
    case kReg8: return Kind::kR8;
    case kReg16: return Kind::kR16;
    case kRegSpecial:
      if (op == 0x0F20 || op == 0x0F22) return Kind::kCr;
      if (op == 0x0F21 || op == 0x0F23) return Kind::kDr;
      return Kind::kSeg;
    case kReg32: return (OpSize(d) && (a & kRegSized)) ? Kind::kR16 : Kind::kR32;
    case kRegMmx:
      if (sse && (op == 0x0F2C || op == 0x0F2D)) return Kind::kR32;
      if (sse == 0xF2 && op == 0x0FD6) return Kind::kMmx;
      if (sse && (op == 0x0F6F || op == 0x0F7F || op == 0x0F70 || op == 0x0F7E || op == 0x0FD6)) return Kind::kXmm;
      return (OpSize(d) && (a & kRegSized)) ? Kind::kXmm : Kind::kMmx;
    case kRegSt: return Kind::kSt;
    case kRegXmm:
      if (sse == 0xF2 && op == 0x0FD6) return Kind::kMmx;
      return Kind::kXmm;
    default: return Kind::kNone;
  }
}

Kind RmKind(const TDecodedInstruction& d) {
  const uint16_t a = d.attributes;
  const uint16_t op = d.info.opcode;
  const uint8_t sse = SsePrefix(d);
  if (IsX87(d)) return Kind::kStI;
  const bool sized = OpSize(d) && (a & kRmSized);
  switch (a & kModRmMask) {
    case kM8: return Kind::kR8;
    case kM16: return (op == 0x8C || op == 0x0F00) ? Kind::kR32 : Kind::kR16;
    case kM32:
      if (op == 0x0F6E || op == 0x0F7E) return sse == 0xF3 ? Kind::kXmm : Kind::kR32;
      if (op == 0x0F2A) return sse ? Kind::kR32 : Kind::kMmx;
      return sized ? Kind::kR16 : Kind::kR32;
    case kM64:
      if (op == 0x0F2A && !sse) return Kind::kMmx;
      if (op == 0x0F2A || op == 0x0F12 || op == 0x0F16 || op == 0x0F13 || op == 0x0F17) return Kind::kXmm;
      if (op == 0x0FD6) return sse == 0xF3 ? Kind::kMmx : Kind::kXmm;
      if (sse && (op == 0x0F6F || op == 0x0F7F || op == 0x0F70)) return Kind::kXmm;
      return sized ? Kind::kXmm : Kind::kMmx;
    case kM80: return Kind::kStI;
    case kM128: return Kind::kXmm;
    default: return Kind::kNone;
  }
}

void AppendRegister(LineBuffer& s, Kind kind, int n) {
  switch (kind) {
    case Kind::kR8: s += kReg8Names[n]; break;
    case Kind::kR16: s += kReg16Names[n]; break;
    case Kind::kR32: s += kReg32Names[n]; break;
    case Kind::kMmx: s += "mm"; s += static_cast<char>('0' + n); break;
    case Kind::kXmm: s += "xmm"; s += static_cast<char>('0' + n); break;
    case Kind::kSt: s += "st"; break;
    case Kind::kStI:
      if (n == 0) {
        s += "st";
      } else {
        s += "st(";
        s += static_cast<char>('0' + n);
        s += ')';
      }
      break;
    case Kind::kSeg: s += kSegmentNames[n]; break;
    case Kind::kCr: s += "cr"; s += static_cast<char>('0' + n); break;
    case Kind::kDr: s += "dr"; s += static_cast<char>('0' + n); break;
    case Kind::kNone: break;
  }
}

const char* SizeKeyword(const TDecodedInstruction& d) {
  const bool sized = OpSize(d) && (d.attributes & kRmSized);
  switch (d.attributes & kModRmMask) {
    case kM8: return "byte";
    case kM16: return "word";
    case kM32: return sized ? "word" : "dword";
    case kM64: return sized ? "oword" : "qword";
    case kM80: return "tbyte";
    case kM128: return "oword";
    default: return "";
  }
}

void AppendSegment(LineBuffer& s, const TDecodedInstruction& d) {
  if (d.segment >= 0) {
    s += kSegmentNames[d.segment];
    s += ':';
  }
}

void AppendMemory(LineBuffer& s, const TDecodedInstruction& d) {
  if (d.attributes & kPtr) {
    s += SizeKeyword(d);
    s += " ptr ";
  }
  AppendSegment(s, d);
  const char* const* names = Addr16(d) ? kReg16Names : kReg32Names;
  const size_t open = s.size();
  s += '[';
  if (d.base >= 0) s += names[d.base];
  if (d.index >= 0) {
    s += '+';
    s += names[d.index];
    if (d.scale > 1) {
      s += '*';
      s += static_cast<char>('0' + d.scale);
    }
  }
  if (d.dispOnly) {
    AppendValue(s, static_cast<uint32_t>(d.disp) & (d.dispSize == 2 ? 0xFFFFu : 0xFFFFFFFFu));
  } else if (d.dispSize && d.base < 0) {  // an index and an address, shown also when 0
    AppendSigned(s, d.disp, true);
  } else if (d.dispSize && d.disp != 0) {
    AppendSigned(s, d.disp, true);
  }
  s += ']';
  if (s.size() > open + 1 && s[open + 1] == '+') s.erase(open + 1, 1);
}

void AppendModRm(LineBuffer& s, const TDecodedInstruction& d) {
  if (d.mod == 3) {
    AppendRegister(s, RmKind(d), d.rm);
  } else {
    AppendMemory(s, d);
  }
}

// The register operand(s): returns false when there is none.
bool AppendRegOperand(LineBuffer& s, const TDecodedInstruction& d) {
  const uint16_t a = d.attributes;
  const int cls = a & kRegMask;
  if (cls == 0) return false;
  if (d.hasModRm) {
    AppendRegister(s, RegFieldKind(d), d.reg);
    return true;
  }
  const bool word = OpSize(d) && (a & kRegSized);
  const int opReg = d.info.opcode & 7;
  switch (cls) {
    case kAl: s += "al"; break;
    case kEax: s += word ? "ax" : "eax"; break;
    case kOpReg8: s += kReg8Names[opReg]; break;
    case kOpReg32: s += word ? kReg16Names[opReg] : kReg32Names[opReg]; break;
    case kEaxOpReg:
      s += word ? "ax, " : "eax, ";
      s += word ? kReg16Names[opReg] : kReg32Names[opReg];
      break;
    case kAccDx: {
      const char* acc = (d.info.opcode & 1) ? (word ? "ax" : "eax") : "al";
      if (a & kRmFirst) {
        s += "dx, ";
        s += acc;
      } else {
        s += acc;
        s += ", dx";
      }
      break;
    }
    default: return false;
  }
  return true;
}

bool IsSignedImmediate(uint16_t op) { return op == 0x69 || op == 0x6B || (op >= 0x80 && op <= 0x83); }

// The immediate operand: returns false when there is none.
bool AppendImmediate(LineBuffer& s, const TDecodedInstruction& d) {
  const uint16_t op = d.info.opcode;
  if (d.immSize == 0 || op == 0x0F0F) return false;
  if (d.attributes & kRel) {
    AppendSigned(s, static_cast<int32_t>(d.imm), true);
    s += " ($";
    AppendHex(s, d.info.end + d.imm, 8);
    s += ')';
    return true;
  }
  switch (op) {
    case 0x9A:
    case 0xEA:
      AppendValue(s, d.imm2);
      s += ':';
      AppendValue(s, d.imm);
      return true;
    case 0xC8:
      AppendValue(s, d.imm);
      s += ", ";
      AppendValue(s, d.imm2);
      return true;
    case 0xD4:
    case 0xD5:
      if ((d.imm & 0xFF) == 10) return false;
      break;
    case 0xA0: case 0xA1: case 0xA2: case 0xA3: {
      if (d.attributes & kPtr) {
        s += (op & 1) ? (OpSize(d) ? "word" : "dword") : "byte";
        s += " ptr ";
      }
      AppendSegment(s, d);
      s += "[$";
      AppendHex(s, d.immSize == 2 ? (d.imm & 0xFFFF) : d.imm, d.immSize * 2);
      s += ']';
      return true;
    }
    case 0x6A:
      AppendValue(s, d.imm);
      return true;
    default:
      break;
  }
  if (IsSignedImmediate(op)) {
    AppendSigned(s, static_cast<int32_t>(d.imm), false);
    return true;
  }
  const uint32_t mask = d.immSize == 1 ? 0xFFu : d.immSize == 2 ? 0xFFFFu : 0xFFFFFFFFu;
  AppendValue(s, d.imm & mask);
  return true;
}

// Item `index` of `text` split at `sep` (empty past the end); *count gets
// the number of items.
std::string_view Item(std::string_view text, char sep, size_t index, size_t* count = nullptr) {
  size_t start = 0, n = 0;
  std::string_view found;
  for (size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == sep) {
      if (n == index) {
        found = text.substr(start, i - start);
        if (count == nullptr) return found;
      }
      ++n;
      start = i + 1;
    }
  }
  if (count) *count = n;
  return found;
}

void AppendAnnotation(std::string& line, const std::string& text, bool quoted) {
  if (text.empty()) return;
  PadTo(line, kAnnotationColumn);
  line += quoted ? "  ; '" : "  ; ";
  line += text;
  if (quoted) line += '\'';
}

std::string DbLines(const TDecodedInstruction& d, const TFormatContext& context) {
  char buf[40];
  uint8_t byte = 0;
  int n;
  if (context.reader != nullptr && context.reader->Read(d.info.begin, &byte, 1)) {
    n = std::snprintf(buf, sizeof buf, "%08x   db $%02x", d.info.begin, byte);
  } else {
    n = std::snprintf(buf, sizeof buf, "%08x   db ??", d.info.begin);
  }
  return std::string(buf, n);
}

}  // namespace

namespace {

// The mnemonic into out (at least 48 bytes); returns its length.
size_t ResolveInto(const TDecodedInstruction& d, char* out, bool* repChoseName) {
  const uint16_t op = d.info.opcode;
  if (repChoseName) *repChoseName = false;
  std::string_view text;
  if (op == 0x0F0F) {
    const char* n = ThreeDNowName(static_cast<uint8_t>(d.imm));
    text = n ? n : "";
  } else {
    text = Mnemonic(d.mnemonic);
  }
  const bool f2 = d.lastRepPrefix == 0xF2 || (d.prefixes & kPrefixRepne && !(d.prefixes & kPrefixRep));
  const bool f3 = d.lastRepPrefix == 0xF3 || (d.prefixes & kPrefixRep && !(d.prefixes & kPrefixRepne));
  const bool o66 = OpSize(d);
  bool special = false;
  for (char c : text) special |= c == '/' || c == '|' || c == ':';
  if (special) {
    if (text.find('/') != std::string_view::npos) {
      // F2 or F3 first, then 66, then none: an empty alternative falls back.
      std::string_view item = (f2 || f3) ? Item(text, '/', f2 ? 2 : 3) : std::string_view();
      if (repChoseName && !item.empty()) *repChoseName = true;
      if (item.empty() && o66) item = Item(text, '/', 1);
      text = item.empty() ? Item(text, '/', 0) : item;
    }
    if (text.find('|') != std::string_view::npos) {
      size_t count = 0;
      Item(text, '|', 0, &count);
      const bool regForm = d.hasModRm && d.mod == 3;
      const size_t index = count >= 9 ? d.reg + (regForm ? 8 : 0) : d.reg;
      std::string_view item = Item(text, '|', index);
      text = item.empty() ? Item(text, '|', 0) : item;
      if (text.find('-') != std::string_view::npos) text = Item(text, '-', d.rm);
    }
    const size_t colon = text.find(':');
    if (colon != std::string_view::npos) {
      text = (d.hasModRm && d.mod == 3) ? text.substr(0, colon) : text.substr(colon + 1);
    }
  }
  size_t n = 0;
  if (IsX87(d) && !text.empty()) out[n++] = 'f';
  for (size_t i = 0; i < text.size() && n < 40; ++i) {
    const char c = text[i];
    if (c == '%') {
      const char* with = text.compare(i, 3, "%cc") == 0 ? kConditionNames[op & 15] : kSegmentNames[(op >> 3) & 7];
      i += text.compare(i, 3, "%cc") == 0 ? 2 : 3;
      while (*with) out[n++] = *with++;
    } else if (c == 'S') {
      out[n++] = (o66 || f2) ? 'd' : 's';
    } else if (c == 'P') {
      out[n++] = (f2 || f3) ? 's' : 'p';
    } else {
      out[n++] = c;
    }
  }
  return n;
}

}  // namespace

std::string ResolveMnemonic(const TDecodedInstruction& d) { return ResolveMnemonic(d, nullptr); }

std::string ResolveMnemonic(const TDecodedInstruction& d, bool* repChoseName) {
  char buf[48];
  return std::string(buf, ResolveInto(d, buf, repChoseName));
}

std::string TargetName(uint32_t address, const TFormatContext& context) {
  if (context.symbols == nullptr || address == 0) return std::string();
  uint32_t named = address;
  std::string name;
  TModuleRange module;
  for (int depth = 0; depth < 2; ++depth) {
    if (!context.symbols->ModuleOf(named, &module)) return std::string();
    name = context.symbols->NameAt(named);
    if (!name.empty() || context.reader == nullptr) break;
    // An import thunk or jump stub: name what it leads to.
    TInstructionInfo stub = DecodeInstruction(named, *context.reader, nullptr);
    if (!stub.isValid || stub.target == 0 || !(stub.isCall || stub.isJump)) break;
    named = stub.target;
  }
  if (name.empty()) return name;
  if (!module.isOwnModule && name.find('(') == std::string::npos && !module.fileName.empty()) {
    name += " (" + module.fileName + ")";
  }
  return name;
}

TStringData StringDataAt(uint32_t v, uint32_t at, bool isImmediate, const TFormatContext& context) {
  if (context.symbols == nullptr || context.reader == nullptr) return {};
  TModuleRange module;
  if (!context.symbols->ModuleOf(at, &module)) return {};
  auto inside = [&](uint32_t x) { return x >= module.begin && x < module.end && module.end - x >= kStringWindow; };
  if (!inside(v)) return {};
  if (isImmediate) {
    uint32_t pointed = 0;
    if (context.reader->ReadDword(v, &pointed) && inside(pointed)) v = pointed;
  }
  std::string name = context.symbols->NameAt(v);
  if (!name.empty()) return {name, true};
  uint8_t bytes[kStringWindow];
  const uint8_t* p = nullptr;
  const uint32_t n = context.reader->Fetch(v, bytes, kStringWindow, &p);
  int plain = 0, punct = 0, symbols = 0, others = 0;
  std::string text;
  for (uint32_t i = 0; i < n; ++i) {
    const uint8_t c = p[i];
    if (c == 0 || c == '\n' || c == '\f') break;
    const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    if (letter || (c >= '0' && c <= '9') || c == ' ') {
      ++plain;
    } else if (c == ',' || c == '.' || c == ':' || c == '\\') {
      ++punct;
    } else if (c >= '!' && c <= ']') {
      ++symbols;
    } else if (c >= 0x5E) {
      ++others;
    } else {
      return {};
    }
    text += static_cast<char>(c);
  }
  if (text.size() >= 4 && punct * 5 < plain * 2 && symbols * 8 < plain + punct / 2 &&
      others * 10 < plain + punct / 2 + symbols / 4) {
    return {text, false};
  }
  return {};
}

std::string FormatDecoded(const TDecodedInstruction& d, const TFormatContext& context) {
  if (!d.info.isValid) return DbLines(d, context);
  LineBuffer line;
  AppendHex(line, d.info.begin, 8);
  line += "   ";
  const uint16_t op = d.info.opcode;
  if (d.prefixes & kPrefixLock) line += "lock ";
  bool repChoseName = false;
  char mnemonic[48];
  const size_t length = ResolveInto(d, mnemonic, &repChoseName);
  if (op < 0x100 && !repChoseName) {
    if (d.prefixes & kPrefixRepne) line += "repne ";
    else if (d.prefixes & kPrefixRep) line += "rep ";
  }
  line.append(mnemonic, length);

  // Register forms of 0F 01 and 0F AE other than smsw and lmsw are whole
  // instructions without operands (fences, rdtscp, xgetbv ...).
  const bool implicitRegisterForm =
      d.hasModRm && d.mod == 3 && (op == 0x0FAE || (op == 0x0F01 && d.reg != 4 && d.reg != 6));
  const int cls = d.attributes & kRegMask;
  const bool hasReg = cls != 0 && (d.hasModRm || cls != kRegSpecial);
  const bool hasRm = d.hasModRm && (d.attributes & kModRmMask) != 0 && !implicitRegisterForm;
  const bool hasImm = d.immSize != 0 && op != 0x0F0F && !((op == 0xD4 || op == 0xD5) && (d.imm & 0xFF) == 10);
  const bool shiftByOne = op == 0xD0 || op == 0xD1;
  const bool shiftByCl = op == 0xD2 || op == 0xD3 || op == 0x0FA5 || op == 0x0FAD;
  if (hasReg || hasRm || hasImm || shiftByOne || shiftByCl) {
    if (line.size() < kOperandColumn) PadTo(line, kOperandColumn);
    else if (line.back() != ' ') line += ' ';
    bool first = true;
    auto next = [&] {
      if (!first) line += ", ";
      first = false;
    };
    if (!d.hasModRm && (d.attributes & kRmFirst) && hasImm) {
      next();
      AppendImmediate(line, d);
      if (hasReg) {
        next();
        AppendRegOperand(line, d);
      }
    } else {
      const bool rmFirst = (d.attributes & kRmFirst) != 0;
      if (rmFirst && hasRm) {
        next();
        AppendModRm(line, d);
      }
      if (hasReg) {
        next();
        AppendRegOperand(line, d);
      }
      if (!rmFirst && hasRm) {
        next();
        AppendModRm(line, d);
      }
      if (hasImm) {
        next();
        AppendImmediate(line, d);
      }
    }
    if (shiftByOne) {
      next();
      line += '1';
    }
    if (shiftByCl) {
      next();
      line += "cl";
    }
  }

  if (context.symbols == nullptr) return line.str();
  std::string text = line.str();
  // Annotations.
  {
    if ((d.info.isCall || d.info.isJump) && d.info.target != 0) {
      AppendAnnotation(text, TargetName(d.info.target, context), false);
    } else {
      if (d.hasModRm && d.mod != 3 && d.dispSize == 4) {
        const TStringData data = StringDataAt(static_cast<uint32_t>(d.disp), d.info.begin, false, context);
        AppendAnnotation(text, data.text, !data.isName);
      }
      if (d.immSize == 4 && !(d.attributes & kRel) && op != 0x9A && op != 0xEA) {
        const TStringData data = StringDataAt(d.imm, d.info.begin, true, context);
        AppendAnnotation(text, data.text, !data.isName);
      }
    }
  }
  return text;
}

TFormattedInstruction FormatInstruction(uint32_t address, const TFormatContext& context, RegisterState* state) {
  TFormattedInstruction result;
  TDecodedInstruction d;
  if (context.reader != nullptr) {
    Decode(address, *context.reader, state, &d);
  } else {
    d.info.begin = address;
    d.info.end = address + 1;
  }
  result.text = FormatDecoded(d, context);
  result.info = d.info;
  return result;
}

}  // namespace kestrix::decoder
