// The HTTP upload over Windows Sockets: connect (with a time limit), the
// request head and form fields as one send, each file in 1024-byte pieces,
// then the reply, read for at most the reply time-out. Sends that stall
// fail after a time-out too, so a dead server never holds the report.
#include <winsock2.h>

#include "crash/base/win/scoped_socket.h"
#include "report_ui/delivery/win/http_upload.h"

#include <wininet.h>

#include <cstdio>
#include <memory>

#include "crash/base/win/system_library.h"
#include "report_ui/delivery/http_reply.h"
#include "report_ui/delivery/http_upload_request.h"
#include "report_ui/delivery/win/online_check.h"
#include "report_ui/delivery/win/winsock_session.h"

namespace kestrix {

namespace {

constexpr DWORD kSendTimeoutMs = 30000;
constexpr size_t kPiece = 1024;

struct TFileCloser {
  void operator()(FILE* f) const { fclose(f); }
};
using TFile = std::unique_ptr<FILE, TFileCloser>;

std::string SocketError(const char* what) { return std::string(what) + " (error " + std::to_string(WSAGetLastError()) + ")"; }

// Waits until the socket can be read (or written) or `ms` passed.
bool Wait(SOCKET s, bool forWrite, DWORD ms) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(s, &set);
  fd_set errors = set;
  timeval limit{static_cast<long>(ms / 1000), static_cast<long>(ms % 1000) * 1000};
  int n = select(0, forWrite ? nullptr : &set, forWrite ? &set : nullptr, forWrite ? &errors : nullptr, &limit);
  return n > 0 && FD_ISSET(s, &set);
}

bool Connect(SOCKET s, const in_addr& address, int port, DWORD timeoutMs, std::string& error) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<u_short>(port));
  to.sin_addr = address;
  u_long nonBlocking = 1;
  ioctlsocket(s, FIONBIO, &nonBlocking);
  if (connect(s, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0 && WSAGetLastError() != WSAEWOULDBLOCK) {
    error = SocketError("cannot connect");
    return false;
  }
  if (!Wait(s, true, timeoutMs)) {
    error = "cannot connect: refused or no answer";
    return false;
  }
  int soError = 0;
  int length = sizeof soError;
  getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&soError), &length);
  if (soError != 0) {
    error = "cannot connect (error " + std::to_string(soError) + ")";
    return false;
  }
  nonBlocking = 0;
  ioctlsocket(s, FIONBIO, &nonBlocking);
  DWORD sendTimeout = kSendTimeoutMs;
  setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&sendTimeout), sizeof sendTimeout);
  return true;
}

bool SendAll(SOCKET s, const char* data, size_t size, std::string& error) {
  while (size > 0) {
    int n = send(s, data, static_cast<int>(size > 65536 ? 65536 : size), 0);
    if (n <= 0) {
      error = SocketError("the server stopped taking the upload");
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

void OpenWithShell(const std::string& url) {
  using TShellExecuteA = HINSTANCE(WINAPI*)(HWND, LPCSTR, LPCSTR, LPCSTR, LPCSTR, INT);
  if (auto execute = SystemFunctionAs<TShellExecuteA>("shell32.dll", "ShellExecuteA"))
    execute(nullptr, "open", url.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

struct TOpenFile {
  TFile file;
  THttpFilePart part;
};

class TProgress {
 public:
  explicit TProgress(IProgressAlert* alert) : alert_(alert) {}
  void Append(const std::string& text, int64_t weight) {
    if (alert_) alert_->AppendArea(text, weight);
  }
  void Reset() {
    if (alert_) alert_->RemoveAreas();
  }
  void Finish() {
    if (alert_) alert_->FinishArea();
  }
  void Position(int position) {
    if (alert_) alert_->SetAreaPosition(position);
  }

 private:
  IProgressAlert* alert_;
};

}  // namespace

std::string QuerySystemProxy() {
  using TQueryOption = BOOL(WINAPI*)(HINTERNET, DWORD, LPVOID, LPDWORD);
  auto query = SystemFunctionAs<TQueryOption>("wininet.dll", "InternetQueryOptionA");
  if (!query) return {};
  DWORD size = 0;
  query(nullptr, INTERNET_OPTION_PROXY, nullptr, &size);
  if (size < sizeof(INTERNET_PROXY_INFO)) return {};
  std::unique_ptr<char[]> buffer(new char[size]);
  if (!query(nullptr, INTERNET_OPTION_PROXY, buffer.get(), &size)) return {};
  auto* info = reinterpret_cast<INTERNET_PROXY_INFO*>(buffer.get());
  if (info->dwAccessType != INTERNET_OPEN_TYPE_PROXY || !info->lpszProxy) return {};
  return reinterpret_cast<const char*>(info->lpszProxy);
}

THttpUploadResult SendViaHttp(const THttpUploadJob& job) {
  THttpUploadResult result;
  std::vector<TOpenFile> files;
  for (size_t i = 0; i < job.files.size(); ++i) {
    TFile f(fopen(job.files[i].c_str(), "rb"));
    if (!f) continue;  // a missing attachment is not sent
    TOpenFile entry{std::move(f), {}};
    entry.part.fieldName = i < job.fieldNames.size() ? job.fieldNames[i] : std::string();
    entry.part.sendAs = i < job.sendAs.size() ? job.sendAs[i] : std::string();
    if (_fseeki64(entry.file.get(), 0, SEEK_END) != 0) continue;
    entry.part.size = static_cast<uint64_t>(_ftelli64(entry.file.get()));
    _fseeki64(entry.file.get(), 0, SEEK_SET);
    files.push_back(std::move(entry));
  }

  std::string formText = FormFieldText(job.fields);
  std::vector<THttpFilePart> parts;
  for (const TOpenFile& f : files) parts.push_back(f.part);
  THttpRequestHead head;
  head.target = SplitUploadAddress(job.server);
  head.port = job.port;
  head.contentLength = UploadContentLength(formText, parts);
  head.sender = job.sender;
  head.account = job.account;
  head.password = job.password;
  std::string request = UploadRequestHead(head) + formText;

  TProgress progress(job.progress);
  progress.Reset();
  progress.Append(job.connMsg, 100);
  progress.Append("", 100);
  progress.Append(job.fieldMsg, static_cast<int64_t>(formText.size()) + 100);
  for (const THttpFilePart& p : parts)
    if (p.size > 0) progress.Append(job.sendAttMsg, FilePartWeight(p));
  progress.Append("", 100);
  progress.Append(job.sendFinalMsg, 500);

  TWinsockSession winsock;
  if (!winsock.ok()) {
    result.error = "Windows Sockets are not available";
    return result;
  }
  THttpEndpoint endpoint = ConnectionEndpoint(head.target, job.port, job.proxy);
  in_addr address;
  if (!ResolveHost(endpoint.host, address)) {
    result.error = "cannot resolve " + endpoint.host;
    return result;
  }
  progress.Finish();
  TScopedSocket s(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  if (!s) {
    result.error = SocketError("no socket");
    return result;
  }
  if (!Connect(s.Get(), address, endpoint.port, job.connectTimeoutMs, result.error)) return result;
  progress.Finish();
  if (!SendAll(s.Get(), request.data(), request.size(), result.error)) return result;
  progress.Finish();

  std::vector<char> piece(kPiece);
  for (TOpenFile& f : files) {
    std::string partHead = FilePartHead(f.part);
    if (!SendAll(s.Get(), partHead.data(), partHead.size(), result.error)) return result;
    uint64_t sent = 0;
    while (sent < f.part.size) {
      size_t want = static_cast<size_t>(std::min<uint64_t>(kPiece, f.part.size - sent));
      if (fread(piece.data(), 1, want, f.file.get()) != want) {
        result.error = "cannot read " + f.part.sendAs + " while sending it";
        return result;
      }
      if (!SendAll(s.Get(), piece.data(), want, result.error)) return result;
      sent += want;
      progress.Position(static_cast<int>(sent * 1000 / f.part.size));
    }
    if (f.part.size > 0) progress.Finish();
  }
  std::string trailer = BodyTrailer();
  if (!SendAll(s.Get(), trailer.data(), trailer.size(), result.error)) return result;
  progress.Finish();

  std::string received;
  DWORD start = GetTickCount();
  THttpReply reply;
  bool closed = false;
  char buffer[kHttpReplyLimit];
  for (;;) {
    DWORD elapsed = GetTickCount() - start;
    if (elapsed >= job.replyTimeoutMs || !Wait(s.Get(), false, job.replyTimeoutMs - elapsed)) {
      reply = ReadHttpReply(received, true);
      if (reply.outcome == THttpOutcome::Failure && reply.status.empty())
        reply.error = "no complete reply within " + std::to_string(job.replyTimeoutMs / 1000) + " s";
      break;
    }
    int n = recv(s.Get(), buffer, static_cast<int>(kHttpReplyLimit - received.size()), 0);
    if (n > 0)
      received.append(buffer, static_cast<size_t>(n));
    else
      closed = true;
    reply = ReadHttpReply(received, closed);
    if (reply.outcome != THttpOutcome::NeedMore) break;
  }
  result.status = reply.status;
  if (reply.outcome == THttpOutcome::Failure) {
    result.error = closed && received.empty() ? "the server closed the connection without a reply" : reply.error;
    return result;
  }
  if (reply.outcome == THttpOutcome::Redirect) {
    result.location = reply.location;
    if (IsWebAddress(reply.location)) (job.openLocation ? job.openLocation : OpenWithShell)(reply.location);
  }
  progress.Finish();
  result.sent = true;
  return result;
}

}  // namespace kestrix
