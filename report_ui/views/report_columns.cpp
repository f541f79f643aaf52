// Column detection over the report's plain text.
#include "report_ui/views/report_columns.h"

namespace kestrix::views {

std::vector<TLineSpan> SplitReportLines(const std::string& text) {
  std::vector<TLineSpan> lines;
  size_t begin = 0;
  for (;;) {
    size_t end = text.find("\r\n", begin);
    const size_t stop = end == std::string::npos ? text.size() : end;
    TLineSpan span{static_cast<int>(begin) + 1, static_cast<int>(stop - begin)};
    if (text.compare(begin, 2, ">>") == 0 && stop - begin >= 2) span.length = -1;
    lines.push_back(span);
    if (end == std::string::npos) break;
    begin = end + 2;
  }
  return lines;
}

std::vector<int> DetectColumns(std::string& text, bool strict) {
  std::vector<int> found;
  const std::vector<TLineSpan> lines = SplitReportLines(text);
  int longest = -1, longestLength = 0, filled = 0;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].length > 0) ++filled;
    if (lines[i].length > longestLength) {
      longestLength = lines[i].length;
      longest = static_cast<int>(i);
    }
  }
  if (longestLength < 3) return found;
  const TLineSpan& top = lines[longest];
  auto at = [&](const TLineSpan& l, int p) -> char & { return text[l.start - 1 + p - 1]; };
  for (int p = 2; p <= longestLength - 1; ++p) {
    const char c = at(top, p);
    const bool candidate = c == ' ' || c == '=' || c == '|' || (c == ':' && at(top, p + 1) == ' ');
    if (!candidate) continue;
    bool holds = true;
    int supporting = 0;
    for (size_t i = 0; i < lines.size() && holds; ++i) {
      const TLineSpan& l = lines[i];
      if (static_cast<int>(i) == longest || l.length < p) continue;
      if (at(l, p) != c) {
        holds = false;
        break;
      }
      const bool padding = c == ' ' && (l.length == p || at(l, p + 1) == ' ');
      if (!padding) ++supporting;
    }
    if (!holds) continue;
    if (strict && supporting <= 1 && filled != 1) continue;
    for (const TLineSpan& l : lines)
      if (l.length >= p) at(l, p) = ' ';
    if (!found.empty() && found.back() == p - 1)
      found.back() = p;
    else
      found.push_back(p);
  }
  return found;
}

namespace {

bool Trimmable(char c) { return static_cast<unsigned char>(c) <= ' ' && c != '\t'; }

}  // namespace

std::string TrimLine(const std::string& line) {
  size_t b = 0, e = line.size();
  while (b < e && Trimmable(line[b])) ++b;
  while (e > b && Trimmable(line[e - 1])) --e;
  return line.substr(b, e - b);
}

std::vector<std::string> ItemLines(const std::string& text, const std::vector<int>& separators, int columnCount) {
  std::vector<std::string> out;
  size_t begin = 0;
  for (;;) {
    const size_t cr = text.find('\r', begin);
    std::string line = TrimLine(text.substr(begin, cr == std::string::npos ? std::string::npos : cr - begin));
    for (int i = 0; i < columnCount - 1 && i < static_cast<int>(separators.size()); ++i) {
      const int s = separators[i];
      if (s < static_cast<int>(line.size())) line[s - 1] = '\t';
    }
    out.push_back(std::move(line));
    if (cr == std::string::npos) break;
    begin = cr + 1;
  }
  return out;
}

std::vector<TColumn> ParseCaptions(const std::string& list) {
  std::vector<TColumn> columns;
  size_t begin = 0;
  for (;;) {
    const size_t bar = list.find('|', begin);
    TColumn c;
    c.caption = list.substr(begin, bar == std::string::npos ? std::string::npos : bar - begin);
    if (!c.caption.empty() && c.caption[0] == '^') {
      c.upperCase = true;
      c.caption.erase(0, 1);
    }
    if (!c.caption.empty() && c.caption[0] == ' ') {
      c.rightAligned = true;
      c.caption.erase(0, 1);
    }
    columns.push_back(std::move(c));
    if (bar == std::string::npos) break;
    begin = bar + 1;
  }
  return columns;
}

}  // namespace kestrix::views
