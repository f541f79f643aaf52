// The contact page's check of a mail address (see mail_address.h).
#include "report_ui/assistant/mail_address.h"

namespace kestrix {

bool IsValidMailAddress(const std::string& address) {
  if (address.empty() || address.front() == '.' || address.back() == '.') return false;
  size_t at = address.find('@');
  if (at == std::string::npos || at == 0 || address.find('@', at + 1) != std::string::npos) return false;
  if (at + 1 >= address.size() || address[at + 1] == '.') return false;
  if (address.find('.', at + 1) == std::string::npos) return false;
  for (char c : address) {
    bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '+' ||
                 c == '-' || c == '_' || c == '.' || c == '@';
    if (!plain) return false;  // blanks too
  }
  return true;
}

}  // namespace kestrix
