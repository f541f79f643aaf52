// Runs DispatchBugReport in the foreground as the exception dialog's send
// button does, for the mail client tests:
//   mail_client_probe dispatch REPORT [--hidden] [--topmost] [--set NAME=VALUE]...
//     sends the text of the file REPORT with the crash lab's settings and
//     the changes given, parent window a window of its own (topmost with
//     --topmost); prints "result N" and "topmost N" (the parent's state
//     afterwards) and "sent N" (the report marked as sent).
//     With --paused-main the dispatch runs in a second thread (the
//     parent's) while the main thread, with a window of its own, is held by
//     the pausing of program threads, as when the handling flow sends.
//     With --watch-progress NAME it prints "file_at_window N": whether the
//     file NAME of the temporary folder (deleted first) existed when the
//     progress window first showed (-1: it never showed).
//   mail_client_probe ping HOST    prints the online check's echo result
//     ("answered", "silent", "untried") and "online N" (IsOnline with HOST
//     as the check host, without going online).
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "crash/handling/win/pausing_win32.h"
#include "crash/handling/win/screenshot_file_win32.h"
#include "crash/report/win/kx_exception_object.h"
#include "crash/threads/win/library_threads.h"
#include "lab_settings.h"
#include "report_ui/delivery/win/dispatch_bug_report_win32.h"
#include "report_ui/delivery/win/online_check.h"
#include "tests/helpers/wait.h"

using namespace kestrix;

namespace {

HWND ProbeWindow(bool topmost) {
  return CreateWindowExA(topmost ? WS_EX_TOPMOST : 0, "STATIC", "mail client probe", WS_POPUP | WS_VISIBLE, 0, 0,
                         200, 100, nullptr, nullptr, nullptr, nullptr);
}

struct TDispatchRun {
  std::string report;
  HWND parent, mainWindow;
  bool topmost;
  TIKXException* e;
  bool hidden;
  int result;
  bool heldBefore, heldAfter;
};

// Whether a window's thread does not answer within half a second.
bool ThreadHeld(HWND window) {
  DWORD_PTR answer = 0;
  return !SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, 500, &answer);
}

void RunDispatch(TDispatchRun& run) {
  run.result = DispatchBugReport(run.report, run.parent, nullptr, false, run.e, false, run.hidden);
}

// The handling flow's part: the main thread held, the send, the main
// thread let go and its message loop ended.
DWORD WINAPI PausedMainDispatch(void* parameter) {
  auto& run = *static_cast<TDispatchRun*>(parameter);
  run.parent = ProbeWindow(run.topmost);
  PauseProgramThreads(GetCurrentThreadId());
  // Held once the main thread has taken the pausing's message, and held
  // again at its next message after the send.
  run.heldBefore = testhelpers::WaitUntil([&] { return ThreadHeld(run.mainWindow); }, 5000);
  RunDispatch(run);
  run.heldAfter = testhelpers::WaitUntil([&] { return ThreadHeld(run.mainWindow); }, 5000);
  ResumeProgramThreads();
  PostThreadMessageA(MainThreadId(), WM_QUIT, 0, 0);
  return 0;
}

// Polls for the progress window and notes whether the watched file was
// there when it first showed.
struct TProgressWatch {
  std::string title, file;
  volatile bool stop = false;
  int fileAtWindow = -1;  // -1: the window never showed
};

DWORD WINAPI WatchProgress(void* parameter) {
  auto& w = *static_cast<TProgressWatch*>(parameter);
  while (!w.stop) {
    HWND window = FindWindowA(nullptr, w.title.c_str());
    if (window && IsWindowVisible(window)) {
      w.fileAtWindow = GetFileAttributesA(w.file.c_str()) != INVALID_FILE_ATTRIBUTES;
      return 0;
    }
    Sleep(1);
  }
  return 0;
}

int Dispatch(int argc, char** argv) {
  std::ifstream in(argv[2], std::ios::binary);
  if (!in) return 2;
  std::stringstream text;
  text << in.rdbuf();
  bool hidden = false, topmost = false, pausedMain = false;
  TProgressWatch watch;
  for (int i = 3; i < argc; ++i) {
    const std::string a = argv[i];
    std::string error;
    if (a == "--hidden") hidden = true;
    else if (a == "--topmost") topmost = true;
    else if (a == "--paused-main") pausedMain = true;
    else if (a == "--watch-progress" && i + 1 < argc) watch.file = argv[++i];
    else if (a == "--set" && i + 1 < argc && !crashlab::ApplyLabSetting(argv[++i], error)) {
      std::fprintf(stderr, "%s\n", error.c_str());
      return 2;
    }
  }
  KXPtr<TIKXException> e(new TIKXException(GetModuleHandleA(nullptr), TExceptionCreation()));
  TDispatchRun run{text.str(), nullptr, nullptr, topmost, e.get(), hidden, 0, false, false};
  HANDLE watcher = nullptr;
  if (!watch.file.empty()) {
    watch.title = e->SendBoxTitle();
    watch.file = TemporaryDirectory() + watch.file;
    DeleteFileA(watch.file.c_str());
    watcher = CreateThread(nullptr, 0, WatchProgress, &watch, 0, nullptr);
  }
  if (pausedMain) {
    run.mainWindow = ProbeWindow(false);
    HANDLE thread = CreateThread(nullptr, 0, PausedMainDispatch, &run, 0, nullptr);
    if (!thread) return 2;
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchMessageA(&msg);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    std::printf("held %d\nheld_after %d\n", run.heldBefore, run.heldAfter);
  } else {
    run.parent = ProbeWindow(topmost);
    RunDispatch(run);
  }
  if (watcher) {
    watch.stop = true;
    WaitForSingleObject(watcher, INFINITE);
    CloseHandle(watcher);
    std::printf("file_at_window %d\n", watch.fileAtWindow);
  }
  std::printf("result %d\ntopmost %d\nsent %d\n", run.result,
              (GetWindowLongA(run.parent, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0, e->Sent());
  return 0;
}

int Ping(const char* host) {
  const char* names[] = {"answered", "silent", "untried"};
  if (*host) std::printf("%s\n", names[EchoHost(host)]);
  std::printf("online %d\n", IsOnline(host, false));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  setvbuf(stdout, nullptr, _IONBF, 0);
  if (argc >= 3 && std::string(argv[1]) == "dispatch") return Dispatch(argc, argv);
  if (argc == 3 && std::string(argv[1]) == "ping") return Ping(argv[2]);
  return 2;
}
