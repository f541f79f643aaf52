#include "analyzer/text_utils.h"

namespace quorrin {

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

std::string LowerAscii(std::string_view s) {
  std::string r(s);
  for (char& c : r) c = LowerAscii(c);
  return r;
}

bool SameTextAscii(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  return true;
}

size_t FileNameStart(std::string_view path) {
  const size_t p = path.find_last_of("\\:");
  return p == std::string_view::npos ? 0 : p + 1;
}

std::string ExtractFileExt(std::string_view path) {
  const size_t start = FileNameStart(path);
  const size_t dot = path.rfind('.');
  if (dot == std::string_view::npos || dot < start) return {};
  return std::string(path.substr(dot));
}

std::string ExtractFileName(std::string_view path) { return std::string(path.substr(FileNameStart(path))); }

std::string ExtractFileDir(std::string_view path) {
  size_t end = FileNameStart(path);
  if (end > 1 && path[end - 1] == '\\' && path[end - 2] != '\\' && path[end - 2] != ':') --end;
  return std::string(path.substr(0, end));
}

bool HasDirectoryPart(std::string_view path) { return path.find_first_of("\\:") != std::string_view::npos; }

TStringList SplitCommaText(std::string_view text) {
  TStringList list;
  // The text ends at its last character or at a NUL byte.
  const size_t nul = text.find('\0');
  if (nul != std::string_view::npos) text = text.substr(0, nul);
  const size_t n = text.size();
  auto isBlank = [&](size_t i) { return static_cast<unsigned char>(text[i]) <= 32; };
  size_t i = 0;
  while (i < n && isBlank(i)) ++i;
  while (i < n) {
    std::string item;
    if (text[i] == '"') {
      ++i;
      while (i < n) {
        if (text[i] == '"') {
          if (i + 1 < n && text[i + 1] == '"') {
            item += '"';
            i += 2;
            continue;
          }
          ++i;  // closing quote
          break;
        }
        item += text[i++];
      }
    } else {
      const size_t start = i;
      while (i < n && !isBlank(i) && text[i] != ',') ++i;
      item.assign(text.substr(start, i - start));
    }
    list.push_back(std::move(item));
    while (i < n && isBlank(i)) ++i;
    if (i < n && text[i] == ',') {
      if (i + 1 == n) list.emplace_back();
      ++i;
      while (i < n && isBlank(i)) ++i;
    }
  }
  return list;
}

TStringList SplitMemoLines(std::string_view text) {
  TStringList lines;
  size_t start = 0;
  for (;;) {
    const size_t p = text.find("\r\n", start);
    if (p == std::string_view::npos) {
      lines.emplace_back(text.substr(start));
      break;
    }
    lines.emplace_back(text.substr(start, p - start));
    start = p + 2;
  }
  if (!lines.empty() && lines.back().empty()) lines.pop_back();
  return lines;
}

std::string JoinLines(const TStringList& lines, std::string_view separator) {
  std::string r;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (i) r += separator;
    r += lines[i];
  }
  return r;
}

}  // namespace quorrin
