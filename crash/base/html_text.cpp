#include "crash/base/html_text.h"

namespace kestrix {

std::string HtmlEscape(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default:
        if (static_cast<unsigned char>(c) < 32 && c != '\n' && c != '\r' && c != '\t') out += "&#xfffd;";
        else out += c;
    }
  }
  return out;
}

}  // namespace kestrix
