// Text analysis of the bug report's sections for the tab views: line spans,
// column detection, item lines and caption lists.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kestrix::views {

// A colour as the window system stores it: 0x00BBGGRR.
constexpr uint32_t Rgb(uint32_t r, uint32_t g, uint32_t b) { return r | g << 8 | b << 16; }

// One line of a text: 1-based start, length (-1 for a line beginning with
// ">>", which column analysis ignores).
struct TLineSpan {
  int start = 0;
  int length = 0;
};
// Lines are separated by CR LF.
std::vector<TLineSpan> SplitReportLines(const std::string& text);

// Separator positions (1-based, ascending) of the columns of text: each one
// ends a column and starts the next. The separator characters found ("=",
// "|", ":") are replaced by blanks in text. strict asks for more than one
// line supporting every separator.
std::vector<int> DetectColumns(std::string& text, bool strict);

// The text split at CR into trimmed lines, with TAB put at the first
// columnCount - 1 separator positions inside each line.
std::vector<std::string> ItemLines(const std::string& text, const std::vector<int>& separators, int columnCount);

struct TColumn {
  std::string caption;
  bool rightAligned = false;  // caption given with a leading blank
  bool upperCase = false;     // caption given with a leading "^"
};
// A "|"-separated caption list.
std::vector<TColumn> ParseCaptions(const std::string& list);

// Trimmed of blanks and control characters other than TAB at both ends.
std::string TrimLine(const std::string& line);

}  // namespace kestrix::views
