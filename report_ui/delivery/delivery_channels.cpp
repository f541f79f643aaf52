// The delivery channels' order (see delivery_channels.h).
#include "report_ui/delivery/delivery_channels.h"

namespace kestrix {

std::vector<TChannelKind> ChannelOrder(const TChannelSwitches& s) {
  std::vector<TChannelKind> order;
  if (s.mailAsSmtpServer) order.push_back(ckSmtpServer);
  else if (s.mailAsSmtpClient) order.push_back(ckSmtpClient);
  else if (s.uploadViaHttp) order.push_back(ckHttpUpload);
  if (s.mailViaMapi) order.push_back(ckMapi);
  if (s.mailViaMailto && !s.hidden) order.push_back(ckMailto);
  return order;
}

bool IsNetworkChannel(TChannelKind kind) { return kind == ckSmtpServer || kind == ckSmtpClient || kind == ckHttpUpload; }

const char* ChannelName(TChannelKind kind) {
  switch (kind) {
    case ckSmtpServer: return "smtp server";
    case ckSmtpClient: return "smtp client";
    case ckHttpUpload: return "http upload";
    case ckMapi: return "mapi";
    case ckMailto: return "mailto";
  }
  return "";
}

std::string ReportExceptionMessage(const std::string& report) {
  const size_t start = report.find("\r\nexception message");
  if (start == std::string::npos) return std::string();
  const size_t end = report.find("\r\n", start + 2);
  std::string line = report.substr(start + 2, end == std::string::npos ? std::string::npos : end - start - 2);
  const size_t colon = line.find(':');
  if (colon == std::string::npos) return std::string();
  line.erase(0, colon + 1);
  line.erase(0, line.find_first_not_of(" \t"));
  const size_t last = line.find_last_not_of(" \t");
  line.erase(last == std::string::npos ? 0 : last + 1);
  return line;
}

}  // namespace kestrix
