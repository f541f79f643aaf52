// The SMTP reply reader: collects the lines of one reply as they arrive and
// tells whether it is complete and carries the expected code.
#pragma once

#include <cstddef>
#include <string>

namespace kestrix::mail {

// The longest reply taken; a server that sends more is misbehaving.
constexpr size_t kMaxReplySize = 64 * 1024;

class TReplyReader {
 public:
  enum TState { rsMore, rsDone, rsFailed };
  // `detectAuthLogin`: note whether an EHLO reply offers AUTH LOGIN.
  TReplyReader(const std::string& expectedCode, bool detectAuthLogin = false);
  // Takes received bytes; rsMore asks for more.
  TState Feed(const char* data, size_t size);
  TState State() const { return state_; }
  bool AuthLogin() const { return authLogin_; }
  // Bytes received after the reply's last line (the start of another one).
  const std::string& Remaining() const { return pending_; }
  // The reply's lines as received, for error texts.
  const std::string& Text() const { return text_; }

 private:
  TState TakeLine(const std::string& line);

  std::string expected_;
  bool detect_;
  bool authLogin_ = false;
  bool wrongCode_ = false;
  std::string pending_, text_;
  size_t total_ = 0;
  TState state_ = rsMore;
};

}  // namespace kestrix::mail
