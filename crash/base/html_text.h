// Text put into HTML: the report pages of a CGI program and the collector's
// pages.
#pragma once

#include <string>

namespace kestrix {

// "&", "<", ">", double and single quotes as character references; control
// characters other than tab, CR and LF as U+FFFD.
std::string HtmlEscape(const std::string& text);

}  // namespace kestrix
