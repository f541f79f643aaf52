// The HTTP upload's request (see http_upload_request.h).
#include "report_ui/delivery/http_upload_request.h"

#include <cstdlib>

#include "crash/settings/kx_cipher.h"

namespace kestrix {


namespace {

constexpr char kCrLf[] = "\r\n";

std::string Delimiter(const std::string& boundary) { return std::string(kCrLf) + "--" + boundary + kCrLf; }

bool ValidPort(const std::string& text, int& port) {
  if (text.empty() || text.size() > 5) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  port = atoi(text.c_str());
  return port > 0 && port <= 65535;
}

}  // namespace

THttpTarget SplitUploadAddress(const std::string& address) {
  std::string rest = address;
  size_t scheme = rest.find("://");
  if (scheme != std::string::npos) rest.erase(0, scheme + 3);
  size_t slash = rest.find('/');
  THttpTarget target;
  if (slash == std::string::npos) {
    target.host = target.path = rest;
  } else {
    target.host = rest.substr(0, slash);
    target.path = rest.substr(slash);
  }
  size_t colon = target.host.rfind(':');
  int port = 0;
  if (colon != std::string::npos && ValidPort(target.host.substr(colon + 1), port)) {
    target.host.erase(colon);
    target.port = port;
  }
  return target;
}

THttpEndpoint ConnectionEndpoint(const THttpTarget& target, int httpPort, const std::string& proxySetting) {
  std::string proxy = proxySetting;
  size_t http = proxy.find("http=");
  if (http != std::string::npos) {
    proxy.erase(0, http + 5);
    size_t blank = proxy.find_first_of(" ;");
    if (blank != std::string::npos) proxy.erase(blank);
  } else if (proxy.find('=') != std::string::npos) {
    proxy.clear();  // proxies for other schemes only
  }
  size_t scheme = proxy.find("://");
  if (scheme != std::string::npos) proxy.erase(0, scheme + 3);
  while (!proxy.empty() && proxy.back() == '/') proxy.pop_back();
  if (proxy.empty()) return {target.host, target.port ? target.port : httpPort, false};
  THttpEndpoint endpoint{proxy, httpPort, true};
  size_t colon = proxy.rfind(':');
  int port = 0;
  if (colon != std::string::npos && ValidPort(proxy.substr(colon + 1), port)) {
    endpoint.host = proxy.substr(0, colon);
    endpoint.port = port;
  }
  return endpoint;
}

std::string QuotedParameter(const std::string& value) {
  std::string out = "\"";
  for (char c : value) {
    if (c == '"')
      out += "%22";
    else if (c == '\r')
      out += "%0D";
    else if (c == '\n')
      out += "%0A";
    else
      out += c;
  }
  return out + "\"";
}

std::string FormFieldText(const std::vector<std::pair<std::string, std::string>>& fields,
                          const std::string& boundary) {
  std::string out;
  for (const auto& [name, content] : fields) {
    out += Delimiter(boundary);
    out += "Content-Disposition: form-data; name=" + QuotedParameter(name) + kCrLf + kCrLf;
    out += content;
  }
  return out;
}

std::string FilePartHead(const THttpFilePart& file, const std::string& boundary) {
  return Delimiter(boundary) + "Content-Disposition: form-data; name=" + QuotedParameter(file.fieldName) +
         "; filename=" + QuotedParameter(file.sendAs) + kCrLf + "Content-Type: application/octet-stream" +
         kCrLf + kCrLf;
}

std::string BodyTrailer(const std::string& boundary) { return std::string(kCrLf) + "--" + boundary + "--" + kCrLf; }

uint64_t UploadContentLength(const std::string& formFieldText, const std::vector<THttpFilePart>& files,
                             const std::string& boundary) {
  uint64_t length = formFieldText.size();
  for (const THttpFilePart& file : files) length += FilePartHead(file, boundary).size() + file.size;
  return length + BodyTrailer(boundary).size() - 2;
}

std::string UploadRequestHead(const THttpRequestHead& head) {
  std::string out = "POST " + head.target.path + " HTTP/1.1" + kCrLf;
  out += "Host: " + head.target.host + ":" + std::to_string(head.target.port ? head.target.port : head.port) +
         kCrLf;
  out += std::string("Connection: close") + kCrLf;
  out += std::string("Pragma: no-cache") + kCrLf;
  out += std::string("User-Agent: Kestrix/3.0") + kCrLf;
  out += "Content-Type: multipart/form-data; boundary=" + head.boundary + kCrLf;
  out += "Content-Length: " + std::to_string(head.contentLength) + kCrLf;
  if (!head.sender.empty()) out += "From: " + head.sender + kCrLf;
  if (!head.account.empty() || !head.password.empty())
    out += "Authorization: Basic " + Base64Encode(head.account + ":" + head.password) + kCrLf;
  return out;
}

int64_t FilePartWeight(const THttpFilePart& file) {
  return static_cast<int64_t>((file.sendAs.size() + file.size + file.fieldName.size() + 135) / 16);
}

}  // namespace kestrix
