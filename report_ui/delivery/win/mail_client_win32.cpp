// SendMapiMail and SendMailtoMail (see mail_client.h).
#include "report_ui/delivery/win/mail_client.h"

#include <mapi.h>

#include "crash/base/win/scoped_handle.h"
#include "crash/handling/win/pausing_win32.h"
#include "crash/threads/win/library_threads.h"
#include "report_ui/delivery/mail_client.h"
#include "report_ui/delivery/win/delivery_state_win32.h"

namespace kestrix {

namespace {

LPMAPISENDMAIL FindMapiSendMail() {
  TDeliveryState& state = DeliveryState();
  std::call_once(state.mapiLoaded, [&] { state.mapi = LoadLibraryA("mapi32.dll"); });
  const HMODULE mapi = state.mapi;
  if (!mapi) return nullptr;
  return reinterpret_cast<LPMAPISENDMAIL>(reinterpret_cast<void*>(GetProcAddress(mapi, "MAPISendMail")));
}

// A topmost window leaves the topmost layer while it lives, so that the
// mail client's windows can come to the front.
class TTopmostLeave {
 public:
  explicit TTopmostLeave(HWND window)
      : window_(window && (GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_TOPMOST) ? window : nullptr) {
    if (window_) SetWindowPos(window_, HWND_NOTOPMOST, 0, 0, 0, 0, kFlags);
  }
  ~TTopmostLeave() {
    if (window_) SetWindowPos(window_, HWND_TOPMOST, 0, 0, 0, 0, kFlags);
  }
  TTopmostLeave(const TTopmostLeave&) = delete;
  TTopmostLeave& operator=(const TTopmostLeave&) = delete;

 private:
  static constexpr UINT kFlags = SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE;
  HWND window_;
};

// The registered "mailto" command with environment variables expanded;
// empty when there is none.
std::string MailtoCommand() {
  std::string value;
  {
    TScopedRegistryKey key;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, "mailto\\shell\\open\\command", 0, KEY_QUERY_VALUE, key.Receive()) !=
        ERROR_SUCCESS)
      return std::string();
    DWORD type = 0, size = 0;
    if (RegQueryValueExA(key.Get(), nullptr, nullptr, &type, nullptr, &size) == ERROR_SUCCESS && size > 0 &&
        (type == REG_SZ || type == REG_EXPAND_SZ)) {
      value.resize(size);
      if (RegQueryValueExA(key.Get(), nullptr, nullptr, &type, reinterpret_cast<BYTE*>(value.data()), &size) !=
          ERROR_SUCCESS)
        size = 0;
      value.resize(size);
      value.resize(value.find('\0') == std::string::npos ? value.size() : value.find('\0'));
    }
  }
  if (value.empty()) return value;
  const DWORD needed = ExpandEnvironmentStringsA(value.c_str(), nullptr, 0);
  if (needed == 0) return value;
  std::string expanded(needed, '\0');
  const DWORD written = ExpandEnvironmentStringsA(value.c_str(), expanded.data(), needed);
  if (written == 0 || written > needed) return value;
  expanded.resize(written - 1);
  return expanded;
}

}  // namespace

int SendMapiMail(const std::string& recipients, const std::string& subject, const std::string& body, bool hidden,
                 HWND parent, const std::vector<std::string>& sendAsNames, const std::vector<std::string>& files) {
  if (IsProcessBlocked(250)) return 0;
  const LPMAPISENDMAIL send = FindMapiSendMail();
  if (!send) return 0;

  const std::vector<TMapiRecipient> to = MapiRecipients(recipients);
  std::vector<MapiRecipDesc> recips(to.size());
  for (size_t i = 0; i < to.size(); ++i) {
    recips[i] = MapiRecipDesc{};
    recips[i].ulRecipClass = MAPI_TO;
    recips[i].lpszName = const_cast<char*>(to[i].name.c_str());
    recips[i].lpszAddress = const_cast<char*>(to[i].address.c_str());
  }
  std::vector<MapiFileDesc> attachments(files.size());
  for (size_t i = 0; i < files.size(); ++i) {
    attachments[i] = MapiFileDesc{};
    attachments[i].nPosition = static_cast<ULONG>(-1);
    attachments[i].lpszPathName = const_cast<char*>(files[i].c_str());
    if (i < sendAsNames.size() && !sendAsNames[i].empty())
      attachments[i].lpszFileName = const_cast<char*>(sendAsNames[i].c_str());
  }
  MapiMessage message{};
  message.lpszSubject = const_cast<char*>(subject.c_str());
  message.lpszNoteText = const_cast<char*>(body.c_str());
  message.nRecipCount = static_cast<ULONG>(recips.size());
  message.lpRecips = recips.empty() ? nullptr : recips.data();
  message.nFileCount = static_cast<ULONG>(attachments.size());
  message.lpFiles = attachments.empty() ? nullptr : attachments.data();
  const FLAGS flags = hidden && !recips.empty() ? 0 : MAPI_LOGON_UI | MAPI_DIALOG;

  ULONG result;
  {
    TTopmostLeave leave(parent);
    TMainThreadRelease release;
    result = send(0, reinterpret_cast<ULONG_PTR>(parent), &message, flags, 0);
  }
  return MapiSendResult(result);
}

bool SendMailtoMail(const std::string& recipients, const std::string& subject, const std::string& body) {
  const std::string command = MailtoCommand();
  if (command.empty()) return false;
  std::string line = MailtoCommandLine(command, MailtoLink(recipients, subject, body));
  STARTUPINFOA start{};
  start.cb = sizeof start;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &start, &process))
    return false;
  TScopedHandle thread(process.hThread), child(process.hProcess);
  return true;
}

}  // namespace kestrix
