// The HTTP upload's request: the upload address and the proxy setting taken
// apart, the multipart/form-data body in its pieces and its exact length,
// and the request head. Portable; win/http_upload_win32.cpp sends it.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "report_ui/mail/mail_text.h"

namespace kestrix {

// The boundary of every part: the mails' token (33 characters).
inline constexpr const char* kUploadBoundary = mail::kBoundaryToken;

struct THttpTarget {
  std::string host;  // the upload address without scheme, up to the first "/" (and ":port")
  int port = 0;      // a port named in the address; 0: the HttpPort setting's
  std::string path;  // from that "/" on
};

// "http://host:81/cgi/upload" → host "host", port 81, path "/cgi/upload". An
// address without "/" serves as both host and path, as stored settings expect.
THttpTarget SplitUploadAddress(const std::string& address);

// Where the connection goes: the proxy of the system's setting (as
// InternetQueryOption gives it: "host:port", "http=host:port https=…",
// "http://host:port") or, without one, the upload host; `port` is the
// setting's port unless the proxy names a valid one.
struct THttpEndpoint {
  std::string host;
  int port = 0;
  bool viaProxy = false;
};
THttpEndpoint ConnectionEndpoint(const THttpTarget& target, int httpPort, const std::string& proxySetting);

struct THttpFilePart {
  std::string fieldName;
  std::string sendAs;
  uint64_t size = 0;
};

// Field names and file names go into quoted header parameters: double quotes
// and line breaks in them are percent-escaped.
std::string QuotedParameter(const std::string& value);

// For each field: CR LF, "--" boundary, CR LF, the disposition line, CR LF,
// CR LF, the content. Its first CR LF ends the request's head.
std::string FormFieldText(const std::vector<std::pair<std::string, std::string>>& fields,
                          const std::string& boundary = kUploadBoundary);

// What precedes a file's bytes, and what ends the body.
std::string FilePartHead(const THttpFilePart& file, const std::string& boundary = kUploadBoundary);
std::string BodyTrailer(const std::string& boundary = kUploadBoundary);

// The body's length: everything after the head's closing CR LF (the form
// text's, or the first file part's, or the trailer's first CR LF).
uint64_t UploadContentLength(const std::string& formFieldText, const std::vector<THttpFilePart>& files,
                             const std::string& boundary = kUploadBoundary);

struct THttpRequestHead {
  THttpTarget target;
  int port = 0;  // HttpPort, unless the address names one
  uint64_t contentLength = 0;
  std::string sender;  // "From:" when set (envelope form: "<a@b>")
  std::string account;
  std::string password;
  std::string boundary = kUploadBoundary;
};

// The request line and header lines, each ended by CR LF, without the empty
// line (the form-field text that follows begins with it).
std::string UploadRequestHead(const THttpRequestHead& head);

// Progress weights of the upload's areas.
int64_t FilePartWeight(const THttpFilePart& file);

}  // namespace kestrix
