#include "debuginfo/readers/text_map_reader.h"

namespace kestrix {

namespace {

// The character at 1-based position `p`, or 0 beyond the line.
char At(const std::string& s, size_t p) { return p >= 1 && p <= s.size() ? s[p - 1] : '\0'; }

bool Hex(const std::string& s, size_t from, size_t count, uint32_t& value) {
  if (from < 1 || from - 1 + count > s.size()) return false;
  value = 0;
  for (size_t i = 0; i < count; ++i) {
    const char c = s[from - 1 + i];
    int d;
    if (c >= '0' && c <= '9') d = c - '0';
    else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
    else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
    else return false;
    value = value << 4 | static_cast<uint32_t>(d);
  }
  return true;
}

enum class TBlock { kNone, kSegments, kDetailed, kPublics, kLines };

class TTextMapParser {
 public:
  explicit TTextMapParser(TMapFile& map) : map_(map) {}

  void Line(const std::string& raw) {
    const size_t first = raw.find_first_not_of(' ');
    const std::string l = first == std::string::npos ? std::string() : raw.substr(first);
    if (l.find("Start         Length     Name                   Class") != std::string::npos) return Open(TBlock::kSegments);
    if (l.find("Detailed map of segments") != std::string::npos) return Open(TBlock::kDetailed);
    if (l.find("Publics by Value") != std::string::npos) return Open(TBlock::kPublics);
    const size_t lines = l.find("Line numbers for ");
    if (lines != std::string::npos) {
      const size_t open = l.find('(', lines);
      if (open != std::string::npos && l.find(')', open) != std::string::npos) {
        firstPair_ = true;
        return Open(TBlock::kLines);
      }
    }
    if (l.find("Program entry point at ") != std::string::npos) {
      uint32_t offset;
      if (l.size() >= 35 && At(l, 28) == ':' && Hex(l, 29, 8, offset)) map_.EntryPoint = map_.BaseOfCode + offset;
      return;
    }
    if (l.empty()) {
      if (content_) Close();
      return;
    }
    content_ = true;
    switch (block_) {
      case TBlock::kSegments: return SegmentList(l);
      case TBlock::kDetailed: return Detailed(l);
      case TBlock::kPublics: return Public(l);
      case TBlock::kLines: return LinePairs(l);
      case TBlock::kNone: return;
    }
  }

  void Close() {
    if (block_ == TBlock::kDetailed) map_.SortSegmentTable();
    block_ = TBlock::kNone;
    content_ = false;
  }

 private:
  void Open(TBlock block) {
    Close();
    block_ = block;
  }

  void SegmentList(const std::string& l) {
    uint32_t v;
    if (l.find(".text") != std::string::npos && At(l, 5) == ':' && At(l, 14) == ' ' && At(l, 23) == 'H' &&
        Hex(l, 15, 8, v)) {
      codeSize_ = static_cast<uint32_t>((uint64_t(v) + 4095) / 4096 * 4096);
    } else if (l.find(".data") != std::string::npos && l.find(".text") == std::string::npos) {
      uint32_t n = 0;
      bool ok = l.size() >= 4;
      for (size_t i = 0; ok && i < 4; ++i) {
        ok = l[i] >= '0' && l[i] <= '9';
        n = n * 10 + static_cast<uint32_t>(l[i] - '0');
      }
      dataSegment_ = ok && n >= 2 && n <= 9 ? n : 2;
    }
  }

  void Detailed(const std::string& l) {
    if (l.size() <= 72 || At(l, 5) != ':' || At(l, 14) != ' ' || At(l, 23) != ' ' || At(l, 24) != 'C' ||
        At(l, 25) != '=')
      return;
    uint32_t segment, offset, length;
    if (!Hex(l, 1, 4, segment) || !Hex(l, 6, 8, offset) || !Hex(l, 15, 8, length)) return;
    if (segment < 1 || segment > dataSegment_) return;
    std::string text = l.substr(0, l.find_last_not_of(' ') + 1);
    const size_t lastBlank = text.rfind(' ');
    if (lastBlank != std::string::npos) text.resize(lastBlank);
    const size_t end = text.find_last_not_of(' ');
    text.resize(end == std::string::npos ? 0 : end + 1);
    const size_t sep = text.find_last_of("=\\|");
    const std::string unit = sep == std::string::npos ? text : text.substr(sep + 1);
    if (segment > 1 && segment < dataSegment_) offset += codeSize_;
    map_.AddSegment(segment < dataSegment_, true, offset, unit, length);
  }

  void Public(const std::string& l) {
    if (l.size() <= 13 || At(l, 5) != ':') return;
    uint32_t segment, offset;
    if (!Hex(l, 1, 4, segment) || !Hex(l, 6, 8, offset) || segment < 1 || segment > dataSegment_) return;
    std::string text = l.substr(0, l.find_last_not_of(' ') + 1);
    if (!text.empty() && text.back() == ')') {
      const size_t open = text.rfind('(');
      if (open != std::string::npos) text.resize(open);
      const size_t end = text.find_last_not_of(' ');
      text.resize(end == std::string::npos ? 0 : end + 1);
    }
    const size_t blank = text.rfind(' ');
    if (blank == std::string::npos || blank + 1 < 14) return;
    std::string name = text.substr(blank + 1);
    if (name.empty()) return;
    const bool isCode = segment < dataSegment_;
    if (dataSegment_ > 2) {
      if (segment > 1 && segment < dataSegment_) offset += codeSize_;
      const TMfSegment* unit = map_.FindSegment(isCode, offset + (isCode ? map_.BaseOfCode : map_.BaseOfData));
      if (unit && !unit->UnitName.empty() && StartsText(unit->UnitName, name) && name.size() > unit->UnitName.size())
        name.erase(0, unit->UnitName.size() + 1);
    }
    map_.AddPublic(isCode, name, offset);
  }

  void LinePairs(const std::string& l) {
    size_t from = 0;
    for (;;) {
      const size_t colon = l.find(':', from);
      if (colon == std::string::npos) return;
      uint32_t segment, offset;
      if (colon < 5 || l[colon - 5] != ' ' || !Hex(l, colon - 3, 4, segment) || !Hex(l, colon + 2, 8, offset))
        return;
      size_t digitsEnd = colon - 5;
      while (digitsEnd > 0 && l[digitsEnd - 1] == ' ') --digitsEnd;
      size_t digitsStart = digitsEnd;
      while (digitsStart > 0 && l[digitsStart - 1] >= '0' && l[digitsStart - 1] <= '9') --digitsStart;
      if (digitsStart == digitsEnd || digitsEnd - digitsStart > 9 || segment < 1 || segment >= dataSegment_) return;
      const int32_t line = std::stoi(l.substr(digitsStart, digitsEnd - digitsStart));
      const uint32_t address = map_.BaseOfCode + offset + (segment > 1 ? codeSize_ : 0);
      if (firstPair_ || map_.Lines().empty() || address > map_.Lines().back().Address)
        map_.AppendLineEntry(line, address);
      firstPair_ = false;
      from = colon + 9;
    }
  }

  TMapFile& map_;
  uint32_t dataSegment_ = 2, codeSize_ = 0;
  TBlock block_ = TBlock::kNone;
  bool content_ = false, firstPair_ = true;
};

}  // namespace

void ParseTextMap(const std::string& text, TMapFile& map) {
  TTextMapParser parser(map);
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    parser.Line(line);
    start = end + 1;
  }
  parser.Close();
}

}  // namespace kestrix
