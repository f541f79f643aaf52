#include "crash/report/call_stack_text.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>

#include "crash/base/crc32.h"

namespace kestrix {
namespace {

std::string Lower(const std::string& s) {
  std::string out = s;
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

int HexDigits(uint32_t v) {
  int n = 1;
  while (v >>= 4) ++n;
  return n;
}

int DecDigits(int32_t v) { return static_cast<int>(std::to_string(v).size()); }

std::string PadRight(const std::string& s, size_t width) {
  return s.size() >= width ? s : s + std::string(width - s.size(), ' ');
}

std::string PadLeft(const std::string& s, size_t width) {
  return s.size() >= width ? s : std::string(width - s.size(), ' ') + s;
}

bool Qualifies(const TCallStackEntry& e, size_t index, const TCallStackOptions& o) {
  if (e.removed) return false;
  if (e.isTop || (index == 0 && o.hasCreator)) return true;
  // A function known by its entry only (its name kept in a ".kx" file
  // that is not there) prints with module and address.
  return (!e.function.empty() || e.functionEntry != 0) && (e.line > 0 || !o.hideUglyItems);
}

uint32_t RelOffset(const TCallStackEntry& e) {
  return e.functionEntry != 0 && e.functionEntry < e.finalAddr ? e.finalAddr - e.functionEntry : 0;
}

}  // namespace

uint32_t CrcStep(uint32_t value, const void* data, size_t size) { return Crc32Update(value, data, size); }

uint32_t CrcStepText(uint32_t value, const std::string& text) {
  return CrcStep(value, text.data(), text.size());
}

uint32_t CrcStepDword(uint32_t value, uint32_t dword) {
  const unsigned char bytes[4] = {static_cast<unsigned char>(dword), static_cast<unsigned char>(dword >> 8),
                                  static_cast<unsigned char>(dword >> 16),
                                  static_cast<unsigned char>(dword >> 24)};
  return CrcStep(value, bytes, 4);
}

TCallStackText ComposeCallStack(const std::vector<TCallStackEntry>& entries,
                                const TCallStackOptions& o, std::vector<int>* printed) {
  TCallStackText out;
  if (printed) printed->clear();
  size_t relWidth = 0, moduleWidth = 0, unitWidth = 0, lineWidth = 0, relLineWidth = 0;
  for (size_t i = 0; i < entries.size(); ++i) {
    const TCallStackEntry& e = entries[i];
    if (!Qualifies(e, i, o)) continue;
    if (o.showRelAddrs && e.functionEntry != 0 && e.functionEntry < e.finalAddr)
      relWidth = std::max<size_t>(relWidth, HexDigits(e.finalAddr - e.functionEntry) + 2);
    moduleWidth = std::max(moduleWidth, e.module.size() + 1);
    unitWidth = std::max(unitWidth, e.unit.size() + 1);
    if (e.absLine > 0) lineWidth = std::max<size_t>(lineWidth, DecDigits(e.absLine) + 1);
    if (e.line > 0 || e.absLine > 0)
      relLineWidth = std::max<size_t>(
          relLineWidth, DecDigits(e.line) + ((o.showRelLines && e.absLine > 0) ? 2 : 1));
  }

  bool havePrinted = false;
  uint32_t lastAddr = 0;
  for (size_t i = 0; i < entries.size(); ++i) {
    const TCallStackEntry& e = entries[i];
    if (!Qualifies(e, i, o)) continue;
    const bool forced = e.isTop || (i == 0 && o.hasCreator);
    if (!forced && havePrinted && e.finalAddr == lastAddr) continue;

    char buf[16];
    std::snprintf(buf, sizeof buf, "%08x", static_cast<unsigned>(e.finalAddr));
    std::string line = buf;
    line += ' ';
    if (relWidth > 0) {
      std::snprintf(buf, sizeof buf, "%0*x", static_cast<int>(relWidth - 2),
                    static_cast<unsigned>(RelOffset(e)));
      line += '+';
      line += buf;
      line += ' ';
    }
    line += PadRight(e.module, moduleWidth);
    line += PadRight(e.unit, unitWidth);
    if (lineWidth > 0)
      line += e.absLine > 0 ? PadLeft(std::to_string(e.absLine), lineWidth - 1) + " "
                            : std::string(lineWidth, ' ');
    if (relLineWidth > 0) {
      if (e.line > 0 || e.absLine > 0) {
        std::string l = std::to_string(e.line);
        if (o.showRelLines && e.absLine > 0) l = "+" + l;
        line += PadLeft(l, relLineWidth - 1) + " ";
      } else {
        line += std::string(relLineWidth, ' ');
      }
    }
    line += e.function;
    if (havePrinted) out.text += "\r\n";
    out.text += line;

    uint32_t value = e.finalAddr;
    if (e.functionEntry != 0 && !e.module.empty() && !e.function.empty()) {
      value = CrcStepText(e.finalAddr - e.functionEntry, Lower(e.module));
      if (!e.unit.empty()) value = CrcStepText(value, Lower(e.unit));
      value = CrcStepText(value, Lower(e.function));
    }
    if (!havePrinted) {
      out.checksum1 = out.checksum2 = value;
      out.hasLines = e.line > 0;
    } else {
      out.checksum2 = CrcStepDword(out.checksum2, value);
      out.hasLines |= e.line > 0;
    }
    havePrinted = true;
    lastAddr = e.finalAddr;
    ++out.printed;
    if (printed) printed->push_back(static_cast<int>(i));
  }

  // The crash's function: the first entry with an entry address and a line,
  // else the first printed one with an entry address.
  for (const TCallStackEntry& e : entries)
    if (!e.removed && e.functionEntry != 0 && e.absLine > 0) {
      out.functionEntry = e.functionEntry;
      out.codeAddress = e.finalAddr;
      break;
    }
  if (out.functionEntry == 0)
    for (size_t i = 0; i < entries.size(); ++i)
      if (Qualifies(entries[i], i, o) && entries[i].functionEntry != 0) {
        out.functionEntry = entries[i].functionEntry;
        out.codeAddress = entries[i].finalAddr;
        break;
      }
  return out;
}

std::string FormatCodeLocation(uint32_t address, const TLocationFacts& f, bool showRelAddr, bool showRelLine) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%08x", static_cast<unsigned>(address));
  std::string text = buf;
  if (!f.described) return text + (showRelAddr ? " +0 ???" : " ???");
  if (showRelAddr) {
    std::snprintf(buf, sizeof buf, "%x", static_cast<unsigned>(f.entry != 0 && f.entry <= address ? address - f.entry : 0));
    text += " +";
    text += buf;
  }
  text += " " + f.module + " " + f.unit + " ";
  if (f.line > 0) text += std::to_string(f.line) + " ";
  if (showRelLine && f.line > 0 && f.firstLine > 0) text += "+" + std::to_string(f.line - f.firstLine) + " ";
  return text + f.function;
}

std::string CallstackCrcText(uint32_t first, uint32_t second, uint32_t allThreads) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "$%08x, $%08x, $%08x", static_cast<unsigned>(first),
                static_cast<unsigned>(second), static_cast<unsigned>(allThreads));
  return buf;
}

}  // namespace kestrix
