// Windows Sockets for the length of one delivery step (the upload, the
// online check): started and cleaned up in pairs.
#pragma once

#include <winsock2.h>

namespace kestrix {

class TWinsockSession {
 public:
  TWinsockSession() {
    WSADATA data;
    ok_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }
  ~TWinsockSession() {
    if (ok_) WSACleanup();
  }
  TWinsockSession(const TWinsockSession&) = delete;
  TWinsockSession& operator=(const TWinsockSession&) = delete;
  bool ok() const { return ok_; }

 private:
  bool ok_ = false;
};

}  // namespace kestrix
