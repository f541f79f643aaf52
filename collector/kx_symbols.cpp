// Naming a report's addresses from a ".kx" file (see kx_symbols.h).
#include "collector/kx_symbols.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <vector>

#include "crash/report/call_stack_text.h"
#include "debuginfo/map/compact_map.h"

namespace kestrix::collector {

namespace {

std::string LowerStem(const std::string& name) {
  std::string base = name.substr(name.find_last_of("\\/") + 1);
  const size_t dot = base.rfind('.');
  if (dot != std::string::npos && dot > 0) base.erase(dot);
  for (char& c : base) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return base;
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  for (std::string_view line : SplitText(text, "\r\n")) lines.emplace_back(line);
  return lines;
}

bool IsHex8(const std::string& s) {
  if (s.size() < 9 || s[8] != ' ') return false;
  for (int i = 0; i < 8; ++i)
    if (!std::isxdigit(static_cast<unsigned char>(s[i]))) return false;
  return true;
}

bool AllDigits(const std::string& s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
}

std::string TokenAt(const std::string& line, size_t at) {
  if (at >= line.size() || line[at] == ' ') return std::string();
  const size_t end = line.find(' ', at);
  return line.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

// One run of aligned call-stack lines taken back into entries: columns are
// the address, "+offset", the module (padded to the longest), the unit
// (padded likewise), the line, the relative line and the function. options
// receives what the lines show of ShowRelAddrs and ShowRelLines (the
// defaults where they show nothing).
bool ParseRun(const std::vector<std::string>& lines, std::vector<TCallStackEntry>& entries,
              TCallStackOptions& options) {
  entries.clear();
  bool relAddrs = false, anyLine = false, relLines = false;
  size_t moduleStart = 0, moduleWidth = 0;
  for (const std::string& l : lines) {
    if (!IsHex8(l)) return false;
    size_t at = 9;
    if (at < l.size() && l[at] == '+') at = l.find(' ', at) + 1;
    if (at == 0) return false;
    if (moduleStart == 0) moduleStart = at;
    if (at != moduleStart) return false;
    moduleWidth = std::max(moduleWidth, TokenAt(l, at).size() + 1);
  }
  const size_t unitStart = moduleStart + moduleWidth;
  size_t unitWidth = 0;
  for (const std::string& l : lines) unitWidth = std::max(unitWidth, TokenAt(l, unitStart).size() + 1);
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string& l = lines[i];
    TCallStackEntry e;
    e.finalAddr = static_cast<uint32_t>(std::strtoul(l.substr(0, 8).c_str(), nullptr, 16));
    if (l[9] == '+') {
      relAddrs = true;
      const uint32_t rel = static_cast<uint32_t>(std::strtoul(l.c_str() + 10, nullptr, 16));
      if (rel != 0 && rel < e.finalAddr) e.functionEntry = e.finalAddr - rel;
    }
    e.module = TokenAt(l, moduleStart);
    e.unit = TokenAt(l, unitStart);
    std::string rest = unitStart + unitWidth < l.size() ? l.substr(unitStart + unitWidth) : std::string();
    auto next = [&rest]() {
      const size_t b = rest.find_first_not_of(' ');
      if (b == std::string::npos) return std::string();
      const size_t end = rest.find(' ', b);
      return rest.substr(b, end == std::string::npos ? std::string::npos : end - b);
    };
    auto drop = [&rest]() {
      const size_t b = rest.find_first_not_of(' ');
      const size_t end = b == std::string::npos ? std::string::npos : rest.find(' ', b);
      rest = end == std::string::npos ? std::string() : rest.substr(end);
    };
    if (AllDigits(next())) {
      anyLine = true;
      e.absLine = std::atoi(next().c_str());
      e.line = e.absLine;
      drop();
      const std::string rel = next();
      if (rel.size() > 1 && rel[0] == '+' && AllDigits(rel.substr(1))) {
        e.line = std::atoi(rel.c_str() + 1);
        relLines = true;
        drop();
      } else if (AllDigits(rel)) {
        e.line = std::atoi(rel.c_str());
        drop();
      }
    }
    const size_t b = rest.find_first_not_of(' ');
    e.function = b == std::string::npos ? std::string() : rest.substr(b);
    e.isTop = i == 0;
    // A line the report printed without function or entry stays printed.
    if (e.function.empty() && e.functionEntry == 0) e.functionEntry = e.finalAddr;
    entries.push_back(std::move(e));
  }
  options.showRelAddrs = relAddrs;
  options.showRelLines = relLines || !anyLine;
  return true;
}

// Names an entry of kx's module that has none (or the names a stripped map
// makes up); true when it did.
bool NameEntry(TCallStackEntry& e, const TKxFile& kx) {
  auto unnamed = [](const std::string& name) { return name.empty() || IsGeneratedName(name); };
  if (!unnamed(e.function) || !unnamed(e.unit) || LowerStem(e.module) != kx.moduleStem) return false;
  // Return addresses below the top line are looked up one byte back.
  const uint32_t address = e.isTop ? e.finalAddr : e.finalAddr - 1;
  const TMfSegment* segment = kx.map.FindSegment(true, address);
  const TMfPublic* pub = segment ? kx.map.FindPublic(address) : nullptr;
  if (!segment || !pub) return false;
  uint32_t nextAddress = 0;
  const int32_t line = kx.map.LineAt(address, nextAddress);
  e.unit = segment->UnitName;
  e.function = pub->Name;
  e.functionEntry = pub->Address;
  e.absLine = line > 0 ? line : 0;
  e.line = e.absLine;
  if (e.absLine > 0) {
    const int32_t first = kx.map.LineAt(pub->Address, nextAddress);
    if (first > 0 && first <= e.absLine) e.line = e.absLine - first;
  }
  return true;
}

struct TNamedSection {
  bool changed = false;
  bool inModule = false;  // a line of kx's module: the thread runs the program's code
  uint32_t checksum1 = 0, checksum2 = 0;
  bool haveChecksums = false;
};

// Names the call-stack runs of one thread section in place.
TNamedSection NameSection(std::string& content, const TKxFile& kx) {
  TNamedSection result;
  const std::vector<std::string> lines = SplitLines(content);
  std::vector<std::string> out;
  std::vector<std::string> run;
  auto flush = [&]() {
    if (run.empty()) return;
    std::vector<TCallStackEntry> entries;
    TCallStackOptions options;
    bool named = false;
    if (ParseRun(run, entries, options)) {
      for (TCallStackEntry& e : entries) {
        named |= NameEntry(e, kx);
        result.inModule |= LowerStem(e.module) == kx.moduleStem;
      }
    }
    if (named) {
      const TCallStackText text = ComposeCallStack(entries, options);
      for (const std::string& l : SplitLines(text.text)) out.push_back(l);
      if (!result.haveChecksums) {
        result.checksum1 = text.checksum1;
        result.checksum2 = text.checksum2;
        result.haveChecksums = true;
      }
      result.changed = true;
    } else {
      out.insert(out.end(), run.begin(), run.end());
    }
    run.clear();
  };
  for (const std::string& l : lines) {
    if (IsHex8(l)) {
      run.push_back(l);
    } else {
      flush();
      out.push_back(l);
    }
  }
  flush();
  if (result.changed) {
    content.clear();
    for (size_t i = 0; i < out.size(); ++i) content += (i ? "\r\n" : "") + out[i];
  }
  return result;
}

uint32_t ParseChecksum(const std::string& text) { return static_cast<uint32_t>(std::strtoul(text.c_str() + 1, nullptr, 16)); }

}  // namespace

bool LoadKxFile(std::string_view bytes, const std::string& fileName, TKxFile& kx, std::string& error) {
  kx = TKxFile();
  const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
  TCompactMapHeader header;
  if (!ReadCompactMapHeader(data, bytes.size(), header)) {
    error = "not a \".kx\" file";
    return false;
  }
  if (header.flags & kCompactMapStripped) {
    error = "a \".kx\" file without names (the program's own stripped map)";
    return false;
  }
  // A mingw program's code starts at 0x401000 at its preferred base.
  TModuleBounds bounds;
  bounds.baseOfCode = 0x401000;
  kx.map.SetBounds(bounds);
  if (LoadCompactMap(data, bytes.size(), kx.map, error) != TCompactMapResult::kLoaded) {
    if (error.empty()) error = "not a \".kx\" file";
    return false;
  }
  kx.map.Valid = true;
  kx.fingerprint = CompactMapFingerprint(data, bytes.size());
  kx.moduleStem = LowerStem(fileName);
  if (kx.moduleStem.empty()) {
    error = "the \".kx\" file's name does not name its module";
    return false;
  }
  return true;
}

bool NameReport(TParsedReport& report, const TKxFile& kx) {
  bool changed = false, first = true;
  uint32_t c1 = 0, c2 = 0, all = 0;
  bool haveCrashed = false;
  for (auto& [title, content] : report.sections) {
    if (title.find('$') == std::string::npos) continue;  // thread sections name their id
    const TNamedSection named = NameSection(content, kx);
    changed |= named.changed;
    if (first) {
      haveCrashed = named.haveChecksums;
      c1 = named.checksum1;
      c2 = all = named.checksum2;
      first = false;
    } else if (haveCrashed && named.inModule && named.haveChecksums) {
      all = CrcStepDword(all, named.checksum2);
    }
  }
  if (!changed) return false;
  for (auto& [item, value] : report.header) {
    if (item != "callstack crc" || value.size() != 31) continue;
    if (haveCrashed) value = CallstackCrcText(c1, c2, all);
    else value = CallstackCrcText(ParseChecksum(value.substr(0, 9)), ParseChecksum(value.substr(11, 9)),
                                  ParseChecksum(value.substr(22, 9)));
  }
  report.text = FormatReportText(report.header, report.sections);
  return true;
}

}  // namespace kestrix::collector
