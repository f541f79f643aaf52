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
    size_t blank = line.rfind(' ', pos + take);
    if (blank != std::string::npos && blank > pos && blank <= pos + take) take = blank - pos;
    rows.push_back(line.substr(pos, take));
    pos += take;
    while (pos < line.size() && line[pos] == ' ') ++pos;  // the break's blanks
  }
  if (rows.empty()) rows.emplace_back();
  return rows;
}

std::vector<std::vector<std::string>> PrintPages(const std::string& report, int width, int rowsPerPage,
                                                 TTextWidth measure, void* context) {
  if (rowsPerPage < 1) rowsPerPage = 1;
  std::vector<std::vector<std::string>> pages(1);
  size_t pos = 0;
  for (;;) {
    size_t end = report.find("\r\n", pos);
    std::string line = report.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
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
  return pages;
}

}  // namespace kestrix
