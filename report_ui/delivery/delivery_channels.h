// The delivery channels of a report and the order in which the dispatcher
// tries them: one network channel (the first whose setting is on), then the
// mail client channels. The first channel that does not fail ends the
// dispatch: one that delivered makes it a success, a mail the user
// cancelled in the mail client ends it as cancelled.
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

// One attachment of a report: the file, the name the receiver sees, the
// upload's form field and the archive it is packed into (empty: none).
struct TAttachmentEntry {
  std::string file, sendAs, fieldName, zipName;
};

// One attachment as sent: a file of its own, or an archive (`members` not
// empty) to be packed from the members' files under their send-as names.
// An archive is sent with its zip name as send-as and field name.
struct TAttachmentStep {
  std::string file, sendAs, fieldName;
  std::vector<TAttachmentEntry> members;
};

// The attachments in order; entries sharing a zip name (compared without
// regard to case) form one archive at the place of the first of them, put
// into `folder`.
std::vector<TAttachmentStep> PlanAttachments(const std::vector<TAttachmentEntry>& entries,
                                             const std::string& folder);


}  // namespace kestrix
