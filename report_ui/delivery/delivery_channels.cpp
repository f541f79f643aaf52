// The delivery channels' order (see delivery_channels.h).
#include "report_ui/delivery/delivery_channels.h"

#include <cctype>

namespace kestrix {

namespace {

bool SameNameNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  }
  return true;
}

}  // namespace

std::vector<TAttachmentStep> PlanAttachments(const std::vector<TAttachmentEntry>& entries,
                                             const std::string& folder) {
  std::vector<TAttachmentStep> steps;
  for (size_t i = 0; i < entries.size(); ++i) {
    const TAttachmentEntry& a = entries[i];
    if (a.zipName.empty()) {
      steps.push_back({a.file, a.sendAs, a.fieldName, {}});
      continue;
    }
    bool packed = false;
    for (size_t j = 0; j < i && !packed; ++j) packed = SameNameNoCase(entries[j].zipName, a.zipName);
    if (packed) continue;
    TAttachmentStep archive{folder + a.zipName, a.zipName, a.zipName, {}};
    for (size_t j = i; j < entries.size(); ++j) {
      if (SameNameNoCase(entries[j].zipName, a.zipName)) archive.members.push_back(entries[j]);
    }
    steps.push_back(std::move(archive));
  }
  return steps;
}

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
