// The mail client channels' portable parts (see mail_client.h).
#include "report_ui/delivery/mail_client.h"

#include <string_view>

#include "report_ui/mail/mail_text.h"

namespace kestrix {

namespace {

std::string TrimmedBlanks(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// MAPI's result codes that the dispatcher tells apart.
constexpr uint32_t kMapiSuccess = 0;
constexpr uint32_t kMapiUserAbort = 1;

}  // namespace

std::vector<TMapiRecipient> MapiRecipients(const std::string& recipients) {
  std::vector<TMapiRecipient> out;
  for (const std::string& item : mail::SplitRecipients(recipients)) {
    TMapiRecipient r;
    const size_t open = item.find('<');
    std::string address = item;
    if (open != std::string::npos) {
      const size_t close = item.find('>', open + 1);
      address = item.substr(open + 1, close == std::string::npos ? std::string::npos : close - open - 1);
      r.name = TrimmedBlanks(item.substr(0, open));
    } else {
      r.name = item;
    }
    address = TrimmedBlanks(address);
    if (r.name.empty()) r.name = address;
    r.address = "SMTP:" + address;
    out.push_back(std::move(r));
  }
  return out;
}

int MapiSendResult(uint32_t mapiResult) {
  if (mapiResult == kMapiSuccess) return 1;
  if (mapiResult == kMapiUserAbort) return 2;
  return 0;
}

namespace {

struct TCharSet {
  bool in[256] = {};
};

constexpr TCharSet MakeMailtoCharSet() {
  TCharSet set;
  for (unsigned char c : std::string_view("\n\r \"#%+<>?")) set.in[c] = true;
  return set;
}

}  // namespace

const bool (&MailtoCharSet())[256] {
  static constexpr TCharSet kSet = MakeMailtoCharSet();
  return kSet.in;
}

std::string MailtoLink(const std::string& recipients, const std::string& subject, const std::string& body) {
  std::string to = recipients;
  mail::NormalizeRecipients(to);
  return "mailto:" + to + "?subject=" + mail::EscapeChars(subject, MailtoCharSet(), '%') +
         "&body=" + mail::EscapeChars(body, MailtoCharSet(), '%');
}

size_t MailtoCutLength(const std::string& text, size_t limit) {
  if (text.size() <= limit) return text.size();
  // An escape is "%" and two hex digits: it is whole when its "%" is not
  // among the last two kept characters.
  if (limit >= 1 && text[limit - 1] == '%') return limit - 1;
  if (limit >= 2 && text[limit - 2] == '%') return limit - 2;
  return limit;
}

std::string MailtoCommandLine(const std::string& command, const std::string& link, size_t limit) {
  std::string line;
  bool placed = false;
  for (size_t i = 0; i < command.size(); ++i) {
    if (command[i] == '%' && i + 1 < command.size() && command[i + 1] == '1') {
      line += link;
      placed = true;
      ++i;
    } else {
      line += command[i];
    }
  }
  if (!placed) {
    if (!line.empty() && line.back() != ' ') line += ' ';
    line += link;
  }
  line.resize(MailtoCutLength(line, limit));
  return line;
}

}  // namespace kestrix
