// The printed report's pages (see print_layout.h).
#include "report_ui/delivery/print_layout.h"

namespace kestrix {

std::vector<std::string> WrapLine(const std::string& line, int width, TTextWidth measure, void* context) {
  std::vector<std::string> rows;
  size_t pos = 0;
  while (pos < line.size()) {
    if (measure(line.substr(pos), context) <= width) {
      rows.push_back(line.substr(pos));
      return rows;
    }
    // The longest prefix that fits, by halving.
    size_t lo = 1, hi = line.size() - pos;
    while (lo < hi) {
      size_t mid = (lo + hi + 1) / 2;
      if (measure(line.substr(pos, mid), context) <= width)
        lo = mid;
      else
        hi = mid - 1;
    }
    size_t take = lo;  // at least one character per row
    // Break at the last blank that follows some text of the row; leading
    // blanks alone would make a row that shows nothing.
    size_t blank = line.rfind(' ', pos + take);
    if (blank != std::string::npos && blank > pos && blank <= pos + take &&
        line.find_first_not_of(' ', pos) < blank)
      take = blank - pos;
    rows.push_back(line.substr(pos, take));
    pos += take;
    while (pos < line.size() && line[pos] == ' ') ++pos;  // the break's blanks
  }
  if (rows.empty()) rows.emplace_back();
  return rows;
}

namespace {

// Tabs to blanks up to the next multiple of eight columns: a printer's font
// has no tab stops.
std::string ExpandTabs(const std::string& line) {
  if (line.find('\t') == std::string::npos) return line;
  std::string out;
  for (char c : line) {
    if (c != '\t')
      out += c;
    else
      out.append(8 - out.size() % 8, ' ');
  }
  return out;
}

}  // namespace

std::vector<std::vector<std::string>> PrintPages(const std::string& report, int width, int rowsPerPage,
                                                 TTextWidth measure, void* context) {
  if (rowsPerPage < 1) rowsPerPage = 1;
  std::vector<std::vector<std::string>> pages(1);
  size_t pos = 0;
  for (;;) {
    size_t end = report.find("\r\n", pos);
    std::string line = ExpandTabs(report.substr(pos, end == std::string::npos ? std::string::npos : end - pos));
    std::vector<std::string> rows = WrapLine(line, width, measure, context);
    auto rowsFree = [&] { return rowsPerPage - static_cast<int>(pages.back().size()); };
    if (static_cast<int>(rows.size()) > rowsFree() && !pages.back().empty()) pages.emplace_back();
    for (std::string& row : rows) {
      if (rowsFree() == 0) pages.emplace_back();
      pages.back().push_back(std::move(row));
    }
    if (end == std::string::npos) break;
    pos = end + 2;
  }
  // Empty rows at the end (the report's closing line breaks) print nothing:
  // they neither end the last page nor take a sheet of their own.
  while (pages.size() > 1 || !pages.back().empty()) {
    if (pages.back().empty())
      pages.pop_back();
    else if (pages.back().back().empty())
      pages.back().pop_back();
    else
      break;
  }
  return pages;
}

}  // namespace kestrix
