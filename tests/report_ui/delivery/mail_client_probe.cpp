// Runs DispatchBugReport in the foreground as the exception dialog's send
// button does, for the mail client tests:
//   mail_client_probe dispatch REPORT [--hidden] [--topmost] [--set NAME=VALUE]...
//     sends the text of the file REPORT with the crash lab's settings and
//     the changes given, parent window a window of its own (topmost with
//     --topmost); prints "result N" and "topmost N" (the parent's state
//     afterwards) and "sent N" (the report marked as sent).
//   mail_client_probe ping HOST    prints the online check's echo result
//     ("answered", "silent", "untried") and "online N" (IsOnline(false)).
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "crash/report/win/kx_exception_object.h"
#include "lab_settings.h"
#include "report_ui/delivery/win/dispatch_bug_report_win32.h"
#include "report_ui/delivery/win/online_check.h"

using namespace kestrix;

namespace {

int Dispatch(int argc, char** argv) {
  std::ifstream in(argv[2], std::ios::binary);
  if (!in) return 2;
  std::stringstream text;
  text << in.rdbuf();
  bool hidden = false, topmost = false;
  for (int i = 3; i < argc; ++i) {
    const std::string a = argv[i];
    std::string error;
    if (a == "--hidden") hidden = true;
    else if (a == "--topmost") topmost = true;
    else if (a == "--set" && i + 1 < argc && !crashlab::ApplyLabSetting(argv[++i], error)) {
      std::fprintf(stderr, "%s\n", error.c_str());
      return 2;
    }
  }
  HWND parent = CreateWindowExA(topmost ? WS_EX_TOPMOST : 0, "STATIC", "mail client probe", WS_POPUP | WS_VISIBLE,
                                0, 0, 200, 100, nullptr, nullptr, nullptr, nullptr);
  KXPtr<TIKXException> e(new TIKXException(GetModuleHandleA(nullptr), TExceptionCreation()));
  const int result = DispatchBugReport(text.str(), parent, nullptr, false, e.get(), false, hidden);
  std::printf("result %d\ntopmost %d\nsent %d\n", result,
              (GetWindowLongA(parent, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0, e->Sent());
  DestroyWindow(parent);
  return 0;
}

int Ping(const char* host) {
  const char* names[] = {"answered", "silent", "untried"};
  std::printf("%s\n", names[EchoHost(host)]);
  std::printf("online %d\n", IsOnline(false));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  setvbuf(stdout, nullptr, _IONBF, 0);
  if (argc >= 3 && std::string(argv[1]) == "dispatch") return Dispatch(argc, argv);
  if (argc == 3 && std::string(argv[1]) == "ping") return Ping(argv[2]);
  return 2;
}
