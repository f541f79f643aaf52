// Composing the listing: one pass over the areas in address order builds
// the lines, then the line-number column and the limit are applied.
#include "debuginfo/parser/disassembly_listing.h"

#include <cstdio>
#include <vector>

namespace kestrix::parser {
namespace {

constexpr char kSeparator[] = "; ---------------------------------------------------------";
constexpr size_t kLabelColumn = 31;

enum class Kind { kBlank, kLabel, kTable, kInstruction, kSeparator };

struct Line {
  Kind kind;
  uint32_t address;
  std::string text;  // the whole line
  bool crash = false;
};

std::string Hex8(uint32_t v) {
  char b[12];
  std::snprintf(b, sizeof b, "%08x", v);
  return b;
}
std::string HexShort(uint32_t v) {
  char b[12];
  std::snprintf(b, sizeof b, "%x", v);
  return b;
}
void PadTo(std::string& s, size_t n) {
  if (s.size() < n) s.append(n - s.size(), ' ');
}
int Digits(int v) {
  int n = 1;
  while (v >= 10) {
    v /= 10;
    ++n;
  }
  return n;
}

class Composer {
 public:
  Composer(const TFunctionInfo& f, uint32_t crash, bool formatted, const TListingContext& c)
      : f_(f), crash_(crash), formatted_(formatted), c_(c) {
    const std::string name = c.symbols ? c.symbols->NameAt(f.entryPoint) : std::string();
    entryName_ = name.empty() ? "sub_" + HexShort(f.entryPoint) : name;
    label_ = name.empty() ? entryName_ : "public " + name;
  }

  bool Compose();
  std::vector<Line>& lines() { return lines_; }

 private:
  bool IsAreaBegin(uint32_t address) const {
    for (const TCodeArea& a : f_.CodeAreas) {
      if (a.begin == address && !a.IsData()) return true;
    }
    return false;
  }
  std::string LabelOf(uint32_t address) const {
    return address == f_.entryPoint ? entryName_ : "loc_" + HexShort(address);
  }
  bool IsHandler(uint32_t target) const {
    const TRuntimeRoutines& r = c_.parse.routines;
    return target != 0 && (target == r.handleAnyException || target == r.handleFinally ||
                           target == r.handleOnException);
  }
  void Add(Kind kind, uint32_t address, std::string text) { lines_.push_back({kind, address, std::move(text)}); }
  void Blank(uint32_t address) {
    if (!lines_.empty() && lines_.back().kind != Kind::kBlank) Add(Kind::kBlank, address, Hex8(address));
  }
  void Separator(uint32_t address) {
    Add(Kind::kSeparator, address, Hex8(address) + " " + kSeparator);
    Add(Kind::kBlank, address, Hex8(address));
  }
  bool CodeArea(const TCodeArea& a, bool lastArea);
  void CaseTable(const TCodeArea& a);
  void ExceptionTable(const TCodeArea& a);

  const TFunctionInfo& f_;
  uint32_t crash_;
  bool formatted_;
  const TListingContext& c_;
  std::string entryName_, label_;
  std::vector<Line> lines_;
  bool codeBefore_ = false;
};

bool Composer::CodeArea(const TCodeArea& a, bool lastArea) {
  if (a.begin == f_.entryPoint || (formatted_ && a.reachedFrom != 0)) {
    if (formatted_) Blank(a.begin);
    std::string line = Hex8(a.begin) + " " + (a.begin == f_.entryPoint ? label_ : LabelOf(a.begin)) + ":";
    if (a.begin == f_.entryPoint) {
      PadTo(line, 9 + kLabelColumn);
      line += "  ; function entry point";
    }
    Add(Kind::kLabel, a.begin, line);
  }
  decoder::TFormatContext format{c_.parse.reader, c_.symbols};
  RegisterState state = a.state;
  for (uint32_t at = a.begin; at <= a.end;) {
    decoder::TFormattedInstruction fi = decoder::FormatInstruction(at, format, &state);
    if (!fi.info.isValid || fi.info.end - 1 > a.end) return false;
    std::string text = fi.text;
    const bool branch = fi.info.isCall || fi.info.isJump;
    if (branch && IsAreaBegin(fi.info.target)) {
      const size_t blank = text.find(' ', 12);
      if (blank != std::string::npos) text.resize(blank);
      PadTo(text, 19);
      text += LabelOf(fi.info.target);
    }
    Line line{Kind::kInstruction, at, text, at == crash_};
    if (line.crash && line.text.size() > 9) line.text[9] = '>';
    lines_.push_back(line);
    codeBefore_ = true;
    const uint16_t op = fi.info.opcode;
    const bool moreCode = fi.info.end <= a.end || !lastArea;
    const bool isReturn = op == 0xC2 || op == 0xC3 || op == 0xCA || op == 0xCB || op == 0xCF;
    const bool unconditional = (op >= 0xE9 && op <= 0xEB) || (op == 0xFF && fi.info.isJump);
    if (formatted_ && moreCode && (branch || isReturn)) {
      if ((isReturn || unconditional) && !IsHandler(fi.info.target)) {
        Add(Kind::kBlank, fi.info.end, Hex8(fi.info.end));
        Separator(fi.info.end);
      } else {
        Add(Kind::kBlank, fi.info.end, Hex8(fi.info.end));
      }
    }
    at = fi.info.end;
  }
  return true;
}

void Composer::CaseTable(const TCodeArea& a) {
  if (formatted_ && codeBefore_ && (lines_.empty() || lines_.back().kind != Kind::kSeparator)) {
    if (!lines_.empty() && lines_.back().kind == Kind::kBlank && lines_.size() >= 2 &&
        lines_[lines_.size() - 2].kind == Kind::kSeparator) {
      // already separated
    } else {
      Separator(a.begin);
    }
  }
  for (uint32_t at = a.begin; at + 3 <= a.end; at += 4) {
    uint32_t target = 0;
    c_.parse.reader->ReadDword(at, &target);
    std::string line = Hex8(at) + " " + "  dd " + LabelOf(target);
    if (at == a.begin) {
      PadTo(line, 9 + kLabelColumn);
      line += "  ; case jump table";
    }
    Add(Kind::kTable, at, line);
  }
}

void Composer::ExceptionTable(const TCodeArea& a) {
  uint32_t count = 0;
  c_.parse.reader->ReadDword(a.begin, &count);
  std::vector<std::pair<std::string, uint32_t>> entries;
  size_t width = 4;  // "else"
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t cls = 0, handler = 0;
    c_.parse.reader->ReadDword(a.begin + 4 + 8 * i, &cls);
    c_.parse.reader->ReadDword(a.begin + 8 + 8 * i, &handler);
    std::string name;
    if (cls != 0) {
      name = c_.classes ? c_.classes->ClassNameOf(cls) : std::string();
      if (name.empty()) name = "EUnknown";
    }
    width = std::max(width, name.size() + 3);  // "on " + name vs "else"
    entries.emplace_back(name, handler);
  }
  for (uint32_t i = 0; i < count; ++i) {
    const auto& [name, handler] = entries[i];
    std::string text = name.empty() ? "else" : "on " + name;
    PadTo(text, width);
    text += name.empty() ? " " : " do ";
    text += LabelOf(handler);
    Add(Kind::kTable, a.begin + 4 + 8 * i, Hex8(a.begin + 4 + 8 * i) + "   " + text);
  }
}

bool Composer::Compose() {
  for (size_t i = 0; i < f_.CodeAreas.size(); ++i) {
    const TCodeArea& a = f_.CodeAreas[i];
    if (i > 0 && a.begin <= f_.CodeAreas[i - 1].end) return false;  // overlapping areas
    if (a.end < a.begin) return false;
    const bool last = i + 1 == f_.CodeAreas.size();
    if (a.caseTable) {
      CaseTable(a);
    } else if (a.exceptionTable) {
      ExceptionTable(a);
    } else if (!CodeArea(a, last)) {
      return false;
    }
  }
  return true;
}

// The line-number column after the address.
void AddLineNumbers(std::vector<Line>& lines, const TFunctionInfo& f, uint32_t crash, const LineSource& source) {
  int last = source.LineAt(f.codeBegin + f.codeLength - 1);
  if (last <= 0) last = 10 * std::max(0, source.LineAt(crash));
  if (last <= 0) return;
  const int width = Digits(last);
  int previous = -1;
  for (Line& line : lines) {
    if (line.kind == Kind::kInstruction || line.kind == Kind::kTable) {
      const int n = source.LineAt(line.address);
      if (n != previous) {
        char b[16];
        std::snprintf(b, sizeof b, "%0*d ", width, n);
        line.text.insert(9, b);
        previous = n;
      } else {
        line.text.insert(9, std::string(width + 1, ' '));
      }
    } else if (line.text.size() <= 9) {
      const int n = source.LineAt(line.address);
      if (n != previous && n > 0) {
        line.text += " " + std::to_string(n);
        previous = n;
      }
    } else {
      line.text.insert(9, std::string(width + 1, ' '));
    }
  }
}

}  // namespace

TListing DisassembleFunction(uint32_t entry, uint32_t crashAddress, bool formatted, int lineLimit,
                             const TListingContext& context) {
  TListing result;
  result.info = ParseFunctionCode(entry, context.parse);
  if (!result.info.isValid) return result;
  Composer composer(result.info, crashAddress, formatted, context);
  if (!composer.Compose()) {
    result.text = kListingInternalError;
    return result;
  }
  std::vector<Line>& lines = composer.lines();
  if (context.lines != nullptr) AddLineNumbers(lines, result.info, crashAddress, *context.lines);

  size_t first = 0, last = lines.size();
  bool cutBefore = false, cutAfter = false;
  if (lineLimit > 0) {
    size_t crashLine = lines.size();
    for (size_t i = 0; i < lines.size(); ++i) {
      if (lines[i].crash) {
        crashLine = i;
        break;
      }
    }
    if (crashLine < lines.size()) {
      const size_t limit = static_cast<size_t>(lineLimit);
      if (crashLine > limit * 12 / 10) {
        first = crashLine - (limit + 1);
        cutBefore = true;
      }
      if (lines.size() - crashLine - 1 > limit) {
        last = crashLine + 1 + limit;
        cutAfter = true;
      }
    }
  }
  std::string& text = result.text;
  if (cutBefore) text += "[...]\r\n";
  for (size_t i = first; i < last; ++i) {
    text += lines[i].text;
    text += "\r\n";
  }
  if (cutAfter) text += "[...]\r\n";
  if (text.size() >= 2) text.resize(text.size() - 2);
  return result;
}

}  // namespace kestrix::parser
