// SendViaNetwork for mail (see send_via_network_win32.h).
#include "report_ui/mail/win/send_via_network_win32.h"

#include <windows.h>

#include <ctime>

#include "report_ui/mail/mail_text.h"
#include "report_ui/mail/win/mail_network_win32.h"

namespace kestrix::mail {

namespace {

class TAlertProgress : public IMailProgress {
 public:
  explicit TAlertProgress(IProgressAlert* alert) : alert_(alert) {}
  void AppendArea(const std::string& text, int64_t weight) override { alert_->AppendArea(text, weight); }
  void FinishArea() override { alert_->FinishArea(); }
  void SetAreaPosition(int position) override { alert_->SetAreaPosition(position); }
  void SetActiveArea(int index) override { alert_->SetActiveArea(index); }

 private:
  IProgressAlert* alert_;
};

std::string ComputerName() {
  char name[MAX_COMPUTERNAME_LENGTH + 1];
  DWORD size = sizeof name;
  if (!GetComputerNameA(name, &size) || size == 0) return "localhost";
  return std::string(name, size);
}

uint64_t FileTimeNow() {
  FILETIME ft;
  GetSystemTimeAsFileTime(&ft);
  return static_cast<uint64_t>(ft.dwHighDateTime) << 32 | ft.dwLowDateTime;
}

}  // namespace

bool SendViaNetwork(const TSendRequest& request, std::string* error) {
  std::string failure;
  bool sent = false;
  if (!request.uploadAddress.empty()) {
    failure = "uploads are not sent by the mail client";
  } else {
    TSocketLayer layer;
    if (!layer.Ready()) {
      failure = "no socket layer";
    } else {
      TMailRequest mail;
      mail.sender = request.sender;
      mail.recipients = request.recipients;
      mail.server = request.server;
      mail.port = request.port;
      mail.account = request.account;
      mail.password = request.password;
      mail.subject = request.subject;
      mail.body = request.body;
      for (size_t i = 0; i < request.files.size(); ++i)
        mail.attachments.push_back({request.files[i], i < request.sendAsNames.size() ? request.sendAsNames[i] : ""});
      mail.localName = ComputerName();
      mail.date = MailDateText(std::time(nullptr));
      mail.messageId = MakeMessageId(FileTimeNow());
      TMailTexts texts;
      if (IKXSettings* s = request.settings) {
        texts = {s->MxLookMsg(), s->ConnMsg(), s->AuthMsg(), s->SendMailMsg(), s->SendAttMsg(), s->SendFinalMsg()};
      }
      TAlertProgress alert(request.progress);
      IMailProgress* progress = request.progress ? &alert : nullptr;
      if (request.progress) {
        request.progress->RemoveAreas();
        request.progress->AppendArea(request.settings ? request.settings->PrepAttMsg() : "Prepare attachments...",
                                     1000);
      }
      TMailNetwork network;
      sent = SendMail(mail, network, progress, texts, failure);
    }
  }
  if (request.progress) request.progress->CloseWindow();
  if (error) *error = failure;
  return sent;
}

}  // namespace kestrix::mail
