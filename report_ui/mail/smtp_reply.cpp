// The SMTP reply reader (see smtp_reply.h).
#include "report_ui/mail/smtp_reply.h"

#include <algorithm>
#include <cctype>

namespace kestrix::mail {

namespace {

std::string Upper(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::toupper(c); });
  return text;
}

}  // namespace

TReplyReader::TReplyReader(const std::string& expectedCode, bool detectAuthLogin)
    : expected_(expectedCode), detect_(detectAuthLogin) {}

TReplyReader::TState TReplyReader::Feed(const char* data, size_t size) {
  if (state_ != rsMore) return state_;
  total_ += size;
  if (total_ > kMaxReplySize) return state_ = rsFailed;
  pending_.append(data, size);
  size_t lineEnd;
  while (state_ == rsMore && (lineEnd = pending_.find("\r\n")) != std::string::npos) {
    const std::string line = pending_.substr(0, lineEnd);
    pending_.erase(0, lineEnd + 2);
    state_ = TakeLine(line);
  }
  return state_;
}

TReplyReader::TState TReplyReader::TakeLine(const std::string& line) {
  text_ += line + "\n";
  // Every line carries a code; "-" after it continues the reply, a blank
  // (or nothing) ends it. A reply with another code is read to its end, so
  // that the next command's reply starts clean, and then fails.
  if (line.size() < 3 || !std::all_of(line.begin(), line.begin() + 3, [](unsigned char c) { return std::isdigit(c); }))
    return rsFailed;
  const bool continued = line.size() > 3 && line[3] == '-';
  if (!continued && line.size() > 3 && line[3] != ' ') return rsFailed;
  if (line.compare(0, 3, expected_) != 0) wrongCode_ = true;
  if (detect_ && !authLogin_ && line.size() > 4) {
    std::string rest = Upper(line.substr(4));
    std::replace(rest.begin(), rest.end(), '=', ' ');
    if (rest.compare(0, 5, "AUTH ") == 0 && (rest + " ").find(" LOGIN ") != std::string::npos) authLogin_ = true;
  }
  if (continued) return rsMore;
  return wrongCode_ ? rsFailed : rsDone;
}

}  // namespace kestrix::mail
