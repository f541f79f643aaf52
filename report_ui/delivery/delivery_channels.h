// The delivery channels of a report and the order in which the dispatcher
// tries them: one network channel (the first whose setting is on), then the
// mail client channels. A channel that is not built into this library
// reports that it did not send; only a channel that delivered makes the
// dispatch a success.
#pragma once

#include <string>
#include <vector>

#include "crash/report/bug_report_file.h"

namespace kestrix {

enum TChannelResult { crFailed = 0, crSent = 1, crCancelled = 2 };

enum TChannelKind { ckSmtpServer, ckSmtpClient, ckHttpUpload, ckMapi, ckMailto };

struct TChannelSwitches {
  bool mailAsSmtpServer = false, mailAsSmtpClient = false, uploadViaHttp = false;
  bool mailViaMapi = false, mailViaMailto = false;
  bool hidden = false;
};

// The channels to try, in order: at most one network channel, then MAPI
// and (not when hidden) mailto.
std::vector<TChannelKind> ChannelOrder(const TChannelSwitches& switches);
bool IsNetworkChannel(TChannelKind kind);
const char* ChannelName(TChannelKind kind);


}  // namespace kestrix
