// The upload server's reply: read from what arrived so far, at most
// kHttpReplyLimit bytes. "200" is success, "302" a redirection whose page
// the user's browser shows (also success), interim "1xx" replies are passed
// over, anything else fails.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kestrix {

constexpr size_t kHttpReplyLimit = 5120;

enum class THttpOutcome {
  NeedMore,  // no decision yet: wait for more bytes
  Success,
  Redirect,  // success; `location` holds the page (may be empty)
  Failure,
};

struct THttpReply {
  THttpOutcome outcome = THttpOutcome::NeedMore;
  std::string status;    // the final status code as sent, e.g. "500"
  std::string location;  // of a "302"
  std::string error;     // why it failed, for the log
};

// `closed`: the server closed the connection after these bytes, so the
// reply cannot grow any more.
THttpReply ReadHttpReply(std::string_view received, bool closed);

// Whether a redirection target may be handed to the shell: only web pages
// ("http://" or "https://"), never a program or a file.
bool IsWebAddress(const std::string& location);

}  // namespace kestrix
