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

}  // namespace kestrix
