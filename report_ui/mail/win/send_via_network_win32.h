// SendViaNetwork for mail: the send request of the delivery, the socket
// layer, the progress window and the conversations.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "crash/base/progress_alert.h"
#include "kestrix/settings.h"

namespace kestrix::mail {

struct TSendRequest {
  std::string uploadAddress;  // non-empty: an HTTP upload (not handled here)
  std::string sender, recipients;
  IKXSettings* settings = nullptr;    // the progress texts
  IProgressAlert* progress = nullptr; // may be absent
  uint16_t port = 25;
  std::string password, account;
  std::string server;  // empty: server mode
  std::vector<std::string> fieldNames, sendAsNames, files;
  std::string body, subject;
};

// True when the mail went out (server mode: to at least one recipient);
// `error` says why not.
bool SendViaNetwork(const TSendRequest& request, std::string* error = nullptr);

}  // namespace kestrix::mail
