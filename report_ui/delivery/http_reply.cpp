// The upload server's reply (see http_reply.h).
#include "report_ui/delivery/http_reply.h"

namespace kestrix {

namespace {

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    char a = text[i], b = prefix[i];
    if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
    if (b >= 'A' && b <= 'Z') b = static_cast<char>(b - 'A' + 'a');
    if (a != b) return false;
  }
  return true;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

THttpReply Failed(std::string status, std::string error) {
  THttpReply r;
  r.outcome = THttpOutcome::Failure;
  r.status = std::move(status);
  r.error = std::move(error);
  return r;
}

// The value of the header `name` within `headers` (lines ended by CR LF).
bool HeaderValue(std::string_view headers, std::string_view name, std::string& value) {
  size_t pos = 0;
  while (pos < headers.size()) {
    size_t end = headers.find("\r\n", pos);
    if (end == std::string_view::npos) end = headers.size();
    std::string_view line = headers.substr(pos, end - pos);
    if (StartsWithNoCase(line, name) && line.size() > name.size() && line[name.size()] == ':') {
      value = std::string(Trim(line.substr(name.size() + 1)));
      return true;
    }
    pos = end + 2;
  }
  return false;
}

}  // namespace

THttpReply ReadHttpReply(std::string_view received, bool closed) {
  THttpReply waiting;
  bool full = received.size() >= kHttpReplyLimit;
  if (full) received = received.substr(0, kHttpReplyLimit);
  auto needMore = [&](const char* what) {
    if (closed || full) return Failed("", what);
    return waiting;
  };

  for (;;) {
    size_t lineEnd = received.find("\r\n");
    if (lineEnd == std::string_view::npos) return needMore("incomplete status line");
    std::string_view line = received.substr(0, lineEnd);
    if (!StartsWithNoCase(line, "HTTP/")) return Failed("", "not an HTTP reply: " + std::string(line.substr(0, 80)));
    size_t blank = line.find(' ');
    std::string_view rest = blank == std::string_view::npos ? std::string_view() : line.substr(blank + 1);
    while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
    std::string status(rest.substr(0, rest.find(' ')));
    bool threeDigits = status.size() == 3 && status[0] >= '1' && status[0] <= '9' &&
                       status[1] >= '0' && status[1] <= '9' && status[2] >= '0' && status[2] <= '9';
    if (!threeDigits) return Failed(status, "no status code in: " + std::string(line.substr(0, 80)));

    size_t headEnd = received.find("\r\n\r\n");
    if (status[0] == '1') {
      // An interim reply: the final one follows its empty line.
      if (headEnd == std::string_view::npos) return needMore("incomplete interim reply");
      received.remove_prefix(headEnd + 4);
      if (received.empty()) return needMore("no reply after the interim one");
      continue;
    }
    if (status == "200") {
      THttpReply r;
      r.outcome = THttpOutcome::Success;
      r.status = status;
      return r;
    }
    if (status == "302") {
      std::string_view headers = received.substr(lineEnd + 2);
      THttpReply r;
      r.status = status;
      r.outcome = THttpOutcome::Redirect;
      if (headEnd == std::string_view::npos) {
        // The Location line may be complete before the head is.
        size_t last = headers.rfind("\r\n");
        headers = last == std::string_view::npos ? std::string_view() : headers.substr(0, last + 2);
        if (!HeaderValue(headers, "Location", r.location) && !(closed || full)) return waiting;
        return r;
      }
      HeaderValue(received.substr(lineEnd + 2, headEnd + 2 - (lineEnd + 2)), "Location", r.location);
      return r;
    }
    return Failed(status, "the server answered " + std::string(line.substr(0, 120)));
  }
}

bool IsWebAddress(const std::string& location) {
  return StartsWithNoCase(location, "http://") || StartsWithNoCase(location, "https://");
}

}  // namespace kestrix
