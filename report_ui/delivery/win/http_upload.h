// The HTTP upload of a report: one POST of the form fields and attachment
// files as multipart/form-data to the upload server, directly or through
// the system's proxy.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "crash/base/progress_alert.h"

namespace kestrix {

struct THttpUploadJob {
  std::string server;    // HttpServer: "host/path", "http://host:port/path"
  int port = 80;         // HttpPort
  std::string account;   // HttpAccount
  std::string password;  // HttpPassword
  std::string sender;    // "From:" (envelope form) when not empty
  std::vector<std::pair<std::string, std::string>> fields;
  // The prepared attachments: paths, send-as names, field names (parallel).
  std::vector<std::string> files, sendAs, fieldNames;
  std::string proxy;  // the system's proxy setting (QuerySystemProxy)
  // Progress texts: ConnMsg, FieldMsg, SendAttMsg, SendFinalMsg.
  std::string connMsg, fieldMsg, sendAttMsg, sendFinalMsg;
  IProgressAlert* progress = nullptr;  // may be none
  unsigned replyTimeoutMs = 7000;
  unsigned connectTimeoutMs = 10000;
  // Shows the page of a "302" (the shell's "open" when none).
  void (*openLocation)(const std::string& url) = nullptr;
};

struct THttpUploadResult {
  bool sent = false;
  std::string status;    // the server's status code, when it answered
  std::string location;  // of a "302"
  std::string error;     // why it failed
};

THttpUploadResult SendViaHttp(const THttpUploadJob& job);

// The system's proxy setting (WinINet's), empty when the connection is direct.
std::string QuerySystemProxy();

}  // namespace kestrix
