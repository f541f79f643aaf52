#include "crash/report/report_text.h"

#include <algorithm>
#include <cstdio>

namespace kestrix {
namespace {

bool IsSpaceOrControl(char c) { return static_cast<unsigned char>(c) <= 32; }

std::string Hex8(uint32_t v) {
  char buf[9];
  std::snprintf(buf, sizeof buf, "%08x", static_cast<unsigned>(v));
  return buf;
}

// Splits at CR LF, CR or LF.
std::vector<std::string_view> SplitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r' && text[i] != '\n') continue;
    lines.push_back(text.substr(start, i - start));
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    start = i + 1;
  }
  lines.push_back(text.substr(start));
  return lines;
}

std::string OneLine(std::string_view value) {
  std::string line;
  line.reserve(value.size());
  for (size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '\r' && i + 1 < value.size() && value[i + 1] == '\n') ++i;
    line += (value[i] == '\r' || value[i] == '\n') ? ' ' : value[i];
  }
  return CollapseSpaces(line);
}

}  // namespace

std::string TrimReportValue(std::string_view value) {
  size_t b = 0, e = value.size();
  while (b < e && IsSpaceOrControl(value[b])) ++b;
  while (e > b && IsSpaceOrControl(value[e - 1])) --e;
  return std::string(value.substr(b, e - b));
}

std::string CollapseSpaces(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text)
    if (!(c == ' ' && !out.empty() && out.back() == ' ')) out += c;
  return out;
}

std::string NormalizeExceptionMessage(std::string_view message) {
  std::string text;
  for (char c : message)
    if (static_cast<unsigned char>(c) >= 32 || c == '\r' || c == '\n') text += c;
  text = TrimReportValue(text);
  if (text.empty()) text = "Unknown";
  while (!text.empty() && (text.back() == '.' || text.back() == '!')) text.pop_back();
  text += '.';
  return OneLine(text);
}

std::string FormatReportText(const TFieldList& header, const TFieldList& sections) {
  size_t width = 0;
  for (const auto& item : header) width = std::max(width, item.first.size());
  std::string out;
  for (size_t i = 0; i < header.size(); ++i) {
    if (i) out += "\r\n";
    out += header[i].first;
    out.append(width - header[i].first.size(), ' ');
    out += ": ";
    out += OneLine(header[i].second);
  }
  for (const auto& [title, content] : sections) {
    out += "\r\n\r\n";
    out += title;
    if (title.find(':') == std::string::npos) out += ':';
    for (std::string_view line : SplitLines(content)) {
      while (!line.empty() && IsSpaceOrControl(line.back())) line.remove_suffix(1);
      out += "\r\n";
      if (line.empty()) out += '.';
      else out += line;
    }
  }
  return out;
}

std::string CpuRegistersText(const TCpuRegisters& r) {
  const std::pair<const char*, uint32_t> lines[] = {{"eax", r.eax}, {"ebx", r.ebx}, {"ecx", r.ecx},
                                                    {"edx", r.edx}, {"esi", r.esi}, {"edi", r.edi},
                                                    {"eip", r.eip}, {"esp", r.esp}, {"ebp", r.ebp}};
  std::string out;
  for (const auto& [name, value] : lines) {
    if (!out.empty()) out += "\r\n";
    out += name;
    out += " = ";
    out += Hex8(value);
  }
  return out;
}

std::string StackDumpText(uint32_t address, std::string_view bytes) {
  static const char kHex[] = "0123456789abcdef";
  const size_t available = std::min<size_t>(bytes.size(), 20 * 16);
  std::string out;
  for (size_t line = 0; line * 16 < available; ++line) {
    if (line) out += "\r\n";
    out += Hex8(address + static_cast<uint32_t>(line * 16));
    out += "  ";
    std::string view;
    for (size_t i = 0; i < 16; ++i) {
      const size_t at = line * 16 + i;
      const bool inside = at < available;
      if (i == 8) out += inside ? "- " : "  ";
      if (!inside) {
        out += "   ";
        continue;
      }
      const unsigned char b = static_cast<unsigned char>(bytes[at]);
      out += kHex[b >> 4];
      out += kHex[b & 15];
      out += ' ';
      view += (b >= 33 && b <= 126) ? static_cast<char>(b) : '.';
    }
    out += ' ';
    out += view;
  }
  return out;
}

}  // namespace kestrix
