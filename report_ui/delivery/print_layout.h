// The printed report's pages: the report's lines (split at CR LF), each
// word-wrapped within the printable width, a line that does not fit on the
// current page moved to the next one. Portable; win/print_report_win32.cpp
// measures with the printer's font and draws the rows.
#pragma once

#include <string>
#include <vector>

namespace kestrix {

// Width of a text in device units.
using TTextWidth = int (*)(const std::string& text, void* context);

// One report line wrapped into rows no wider than `width` (breaking at
// blanks, inside a word only when the word alone is too wide). An empty
// line gives one empty row.
std::vector<std::string> WrapLine(const std::string& line, int width, TTextWidth measure, void* context);

// The report's rows page by page, `rowsPerPage` (at least 1) to a page. A
// wrapped line stays on one page unless it is longer than a page. Tabs
// become blanks (stops every eight columns); empty rows at the end are left
// out (an empty report is one empty page).
std::vector<std::vector<std::string>> PrintPages(const std::string& report, int width, int rowsPerPage,
                                                 TTextWidth measure, void* context);

}  // namespace kestrix
