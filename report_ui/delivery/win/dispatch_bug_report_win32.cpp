// DispatchBugReport (see dispatch_bug_report_win32.h).
#include "report_ui/delivery/win/dispatch_bug_report_win32.h"

#include <memory>
#include <mutex>
#include <vector>

#include "crash/base/win/critical_section.h"
#include "crash/base/win/scoped_handle.h"
#include "crash/dump/win/exception_dump_win32.h"
#include "crash/handling/win/screenshot_file_win32.h"
#include "crash/report/win/kx_exception_object.h"
#include "crash/report/win/save_bug_report.h"
#include "crash/threads/win/library_threads.h"
#include "crash/threads/win/thread_table_win32.h"
#include "report_ui/delivery/delivery_channels.h"
#include "report_ui/delivery/win/delivery_state_win32.h"
#include "report_ui/delivery/http_upload_request.h"
#include "report_ui/delivery/win/http_upload.h"
#include "report_ui/delivery/win/mail_client.h"
#include "report_ui/delivery/win/online_check.h"
#include "report_ui/delivery/win/zip_files.h"
#include "report_ui/mail/mail_text.h"
#include "report_ui/mail/win/dns_client_win32.h"
#include "report_ui/mail/win/send_via_network_win32.h"
#include "report_ui/progress/progress_alert.h"

namespace kestrix {

namespace {

// What the sending thread gets: its own copy of the report and a reference
// to the exception.
struct TSendBugReportExRec {
  std::string report;
  TIKXException* exception = nullptr;
  bool hidden = false;
};


void RememberBackgroundSend(HANDLE thread) {
  TScopedHandle own;
  if (!DuplicateHandle(GetCurrentProcess(), thread, GetCurrentProcess(), own.Receive(), SYNCHRONIZE, FALSE, 0)) return;
  TDeliveryState& state = DeliveryState();
  std::lock_guard<TCriticalSectionLock> hold(state.sendsLock);
  // Ended ones go first.
  for (auto it = state.sends.begin(); it != state.sends.end();) {
    if (WaitForSingleObject(it->Get(), 0) == WAIT_OBJECT_0) {
      it = state.sends.erase(it);
    } else {
      ++it;
    }
  }
  state.sends.push_back(std::move(own));
}

DWORD WINAPI SendThreadProc(void* parameter) {
  std::unique_ptr<TSendBugReportExRec> rec(static_cast<TSendBugReportExRec*>(parameter));
  RegisterLibraryThread(GetCurrentThreadId(), "Kestrix send");
  DispatchBugReport(rec->report, nullptr, nullptr, true, rec->exception, true, rec->hidden);
  static_cast<IKXException*>(rec->exception)->Release();
  UnregisterThread(GetCurrentThreadId());
  return 0;
}

std::string FileNameOf(const std::string& path) { return path.substr(path.find_last_of("\\/") + 1); }

struct TPrepared {
  std::vector<std::string> files, sendAsNames, fieldNames;
  bool deleteArmed = false;
};

// The report's copy, the screenshot, the minidump, the additional attachments; those
// sharing a zip name are packed into one archive.
void PrepareAttachments(TIKXException* e, TPrepared& prepared) {
  const std::string folder = TemporaryDirectory();
  std::vector<TAttachmentEntry> entries;
  if (e->AttachBugRep() && !folder.empty()) {
    const std::string file = BugReportFilePathOf(e);
    const std::string copy = folder + FileNameOf(file);
    DeleteFileA(copy.c_str());
    bool copied = false;
    if (e->AttachBugRepFile()) {
      copied = CopyFileA(file.c_str(), copy.c_str(), FALSE) != 0;
      if (copied) prepared.deleteArmed = e->DelBugRepFile();
      else DeleteFileA(copy.c_str());
    }
    if (!(copied && e->Saved())) SaveBugReport(e, nullptr, copy, true);
    if (GetFileAttributesA(copy.c_str()) != INVALID_FILE_ATTRIBUTES) {
      entries.push_back({copy, e->BugRepSendAs(), "BugReport", e->BugRepZip()});
    }
  }
  // Written anew: the file the handling flow left may belong to a later
  // exception by now.
  if (e->AttachScreenShot() && !folder.empty()) {
    const std::string shot = folder + kScreenshotFileName;
    if (WriteScreenshotFile(e)) entries.push_back({shot, e->ScrShotSendAs(), "ScreenShot", e->ScrShotZip()});
  }
  const std::string dump = folder.empty() ? std::string() : ExceptionDumpFileForSending(e, folder);
  if (!dump.empty()) entries.push_back({dump, e->DumpSendAs(), "MiniDump", e->DumpZip()});
  if (KXPtr<IKXAttachments> more = e->AdditionalAttachments()) {
    for (int i = 0; i < more->ItemCount(); ++i) {
      const TAttachment a = more->Item(i);
      if (a.file.empty()) continue;
      entries.push_back({a.file, a.sendAs.empty() ? FileNameOf(a.file) : a.sendAs, a.fieldName, a.zipName});
    }
  }
  for (const TAttachmentStep& step : PlanAttachments(entries, folder)) {
    if (!step.members.empty()) {
      std::vector<std::string> files, names;
      for (const TAttachmentEntry& m : step.members) {
        files.push_back(m.file);
        names.push_back(m.sendAs);
      }
      DeleteFileA(step.file.c_str());
      if (!ZipFiles(step.file, files, names)) continue;
    }
    prepared.files.push_back(step.file);
    prepared.sendAsNames.push_back(step.sendAs);
    prepared.fieldNames.push_back(step.fieldName);
  }
}

// Whether PrepareAttachments is going to attach anything.
bool ExpectsAttachments(TIKXException* e) {
  if (e->AttachBugRep() || e->AttachScreenShot()) return true;
  KXPtr<IKXAttachments> more = e->AdditionalAttachments();
  return more && more->ItemCount() > 0;
}

KXPtr<IProgressAlert> OpenProgress(TIKXException* e, const TChannelSwitches& on, bool withAttachments, HWND parent,
                                   bool background, bool hidden) {
  KXPtr<IProgressAlert> alert = CreateProgressAlert(e->SendBoxTitle(), e->Module(), "KXISEND32");
  if (!alert) return alert;
  alert->AppendArea(e->PrepAttMsg(), 1000);
  const bool mail = on.mailAsSmtpServer || on.mailAsSmtpClient;
  if (mail || on.uploadViaHttp) {
    if (on.mailAsSmtpServer) alert->AppendArea(e->MxLookMsg(), 500);
    if (mail) {
      alert->AppendArea(e->ConnMsg(), 100);
      alert->AppendArea(e->AuthMsg(), 200);
      alert->AppendArea(e->SendMailMsg(), 100);
    } else {
      alert->AppendArea(e->FieldMsg(), 100);
    }
    if (withAttachments) alert->AppendArea(e->SendAttMsg(), 100);
    alert->AppendArea(e->SendFinalMsg(), 500);
  }
  if (!hidden || e->AutoSendBox()) alert->OpenWindow(background ? nullptr : parent, !background);
  return alert;
}

struct TDispatch {
  TIKXException* e;
  std::string sender, subject, body;
  std::string checkHost;  // OnlineCheckHost
  const TPrepared* prepared;
  IProgressAlert* progress;
  const std::string* report;
  HWND parent;
  bool hidden;
};

TChannelResult SendSmtp(const TDispatch& d, bool asServer) {
  TIKXException* e = d.e;
  mail::TSendRequest r;
  r.sender = d.sender;
  r.recipients = e->MailAddr();
  r.settings = e;
  r.progress = d.progress;
  if (r.recipients.empty()) return crFailed;
  if (!asServer) {
    r.server = e->SmtpServer();
    if (r.server.empty()) return crFailed;
    const int32_t port = e->SmtpPort();
    if (port <= 0 || port > 65535) return crFailed;
    r.port = static_cast<uint16_t>(port);
    r.account = e->SmtpAccount();
    r.password = e->SmtpPassword();
  }
  // The first server a mail goes to: the relay, or in server mode the DNS
  // servers that name the recipient's mail exchanger.
  const std::vector<std::string> first = asServer ? mail::LookupDnsServers() : std::vector<std::string>{r.server};
  if (!ServersReachable(first, d.checkHost, !d.hidden)) return crFailed;
  r.files = d.prepared->files;
  r.sendAsNames = d.prepared->sendAsNames;
  r.fieldNames = d.prepared->fieldNames;
  r.subject = d.subject;
  r.body = d.body;
  return mail::SendViaNetwork(r) ? crSent : crFailed;
}

// The upload's form fields: the additional fields, "MailFrom" the sender,
// "MinDebugInfo" the fingerprint of the build's ".kx" file.
std::vector<std::pair<std::string, std::string>> UploadFields(const TDispatch& d) {
  std::vector<std::pair<std::string, std::string>> fields;
  if (KXPtr<IKXFields> more = d.e->AdditionalFields()) {
    more->Lock();
    for (int i = 0; i < more->ItemCount(); ++i) fields.emplace_back(more->Name(i), more->ContentAt(i));
    more->Unlock();
  }
  if (!d.sender.empty()) {
    bool replaced = false;
    for (auto& field : fields) {
      if (field.first == "MailFrom") {
        field.second = d.sender;
        replaced = true;
      }
    }
    if (!replaced) fields.emplace_back("MailFrom", d.sender);
  }
  // A build without names names its ".kx" file, so that the receiver can
  // name the report's addresses.
  const std::string kxFingerprint = d.e->GetRawTextSetting("MinDebugInfo");
  if (!kxFingerprint.empty()) fields.emplace_back("MinDebugInfo", kxFingerprint);
  return fields;
}

TChannelResult SendHttp(const TDispatch& d) {
  TIKXException* e = d.e;
  THttpUploadJob job;
  job.server = e->HttpServer();
  if (job.server.empty()) return crFailed;
  job.port = e->HttpPort();
  if (job.port <= 0 || job.port > 65535) return crFailed;
  job.account = e->HttpAccount();
  job.password = e->HttpPassword();
  job.sender = d.sender.empty() ? std::string() : mail::AngleAddress(d.sender, false);
  job.proxy = QuerySystemProxy();
  const THttpEndpoint endpoint = ConnectionEndpoint(SplitUploadAddress(job.server), job.port, job.proxy);
  if (!ServersReachable({endpoint.host}, d.checkHost, !d.hidden)) return crFailed;
  job.fields = UploadFields(d);
  job.files = d.prepared->files;
  job.sendAs = d.prepared->sendAsNames;
  job.fieldNames = d.prepared->fieldNames;
  job.connMsg = e->ConnMsg();
  job.fieldMsg = e->FieldMsg();
  job.sendAttMsg = e->SendAttMsg();
  job.sendFinalMsg = e->SendFinalMsg();
  job.progress = d.progress;
  return SendViaHttp(job).sent ? crSent : crFailed;
}

// The mail client's link carries the report text itself as body; the
// parent leaves the topmost layer so that the client's window can come to
// the front.
TChannelResult SendMailto(const TDispatch& d) {
  if (d.parent) SetWindowPos(d.parent, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  return SendMailtoMail(d.e->MailAddr(), d.subject, *d.report) ? crSent : crFailed;
}

// One channel; a network channel is skipped when the internet does not
// answer.
TChannelResult SendOver(TChannelKind kind, const TDispatch& d) {
  switch (kind) {
    case ckSmtpServer: return SendSmtp(d, true);
    case ckSmtpClient: return SendSmtp(d, false);
    case ckHttpUpload: return SendHttp(d);
    case ckMapi:
      return static_cast<TChannelResult>(SendMapiMail(d.e->MailAddr(), d.subject, d.body, d.hidden, d.parent,
                                                      d.prepared->sendAsNames, d.prepared->files));
    case ckMailto: return SendMailto(d);
  }
  return crFailed;
}

}  // namespace

int DispatchBugReport(const std::string& report, HWND parent, HANDLE* threadSlot, bool inThread,
                      TIKXException* e, bool background, bool hidden) {
  if (threadSlot) *threadSlot = nullptr;
  if (!e) return crFailed;
  if (background && !inThread && !IsProcessBlocked(250)) {
    if (parent) SetWindowPos(parent, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    auto* rec = new TSendBugReportExRec{report, e, hidden};
    static_cast<IKXException*>(e)->AddRef();
    if (TScopedHandle thread{CreateThread(nullptr, 0, SendThreadProc, rec, 0, nullptr)}) {
      RememberBackgroundSend(thread.Get());
      if (threadSlot) *threadSlot = thread.Release();  // the caller's to close
      return crSent;
    }
    static_cast<IKXException*>(e)->Release();
    delete rec;
  }

  TDispatch d{e, e->MailFrom(), "", "", e->GetRawTextSetting("OnlineCheckHost"), nullptr, nullptr, &report, parent, hidden};
  if (d.sender.empty()) {
    const std::vector<std::string> to = mail::SplitRecipients(e->MailAddr());
    if (!to.empty()) d.sender = "Kestrix " + mail::AngleAddress(to[0], false);
  }
  const std::string message = ReportExceptionMessage(report);
  d.subject = e->ExpandText(e->GetRawTextSetting("MailSubj"), message, report);
  d.body = e->ExpandText(e->GetRawTextSetting("MailBody"), message, report);

  TChannelSwitches on;
  on.mailAsSmtpServer = e->MailAsSmtpServer();
  on.mailAsSmtpClient = e->MailAsSmtpClient();
  on.uploadViaHttp = e->UploadViaHttp();
  on.mailViaMapi = e->MailViaMapi();
  on.mailViaMailto = e->MailViaMailto();
  on.hidden = hidden;

  TPrepared prepared;
  KXPtr<IProgressAlert> progress;
  if (on.mailAsSmtpServer || on.mailAsSmtpClient || on.uploadViaHttp || on.mailViaMapi) {
    // The window is up before the slow part (the report's copy, the PNG,
    // the archives), its preview from what is going to be attached.
    progress = OpenProgress(e, on, ExpectsAttachments(e), parent, background, hidden);
    PrepareAttachments(e, prepared);
  }
  d.prepared = &prepared;
  d.progress = progress.get();

  TChannelResult result = crFailed;
  for (TChannelKind kind : ChannelOrder(on)) {
    if (!IsNetworkChannel(kind) && progress) progress->CloseWindow();
    // The link carries no file: the bug report file stays.
    if (kind == ckMailto) prepared.deleteArmed = false;
    result = SendOver(kind, d);
    if (result != crFailed) break;
  }
  if (progress) progress->CloseWindow();

  if (result == crFailed && !hidden) {
    const std::string text = e->SendFailMsg();
    MessageBoxA(parent, text.c_str(), e->TitleBar().c_str(), MB_OK | MB_ICONERROR);
  }
  if (result == crSent) {
    e->SetSent(true);
    if (prepared.deleteArmed && e->DelBugRepFile()) {
      const std::string file = BugReportFilePathOf(e);
      SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_NORMAL);
      DeleteFileA(file.c_str());
    }
  }
  return result;
}

bool WaitForBackgroundSends(DWORD timeoutMs) {
  TDeliveryState& state = DeliveryState();
  std::vector<TScopedHandle> threads;
  {
    std::lock_guard<TCriticalSectionLock> hold(state.sendsLock);
    threads.swap(state.sends);
  }
  const DWORD start = GetTickCount();
  bool allEnded = true;
  for (TScopedHandle& thread : threads) {
    const DWORD spent = GetTickCount() - start;
    if (WaitForSingleObject(thread.Get(), spent < timeoutMs ? timeoutMs - spent : 0) != WAIT_OBJECT_0)
      allEnded = false;
    thread.Reset();
  }
  return allEnded;
}

int SendReportFromHandling(const std::string& report, TIKXException* exception, HANDLE* threadSlot,
                           bool background, bool hidden) {
  return DispatchBugReport(report, nullptr, threadSlot, false, exception, background, hidden);
}

}  // namespace kestrix
