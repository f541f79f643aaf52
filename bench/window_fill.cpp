// window_fill QUORRIN_EXE PROJECT RUNS [SEARCH_PATH]...
// Times the main window's analysis of a project: from pressing OK in the
// open-file dialog until the window has analysed, filled its tree and order
// list, and painted; and until the console holds the whole log (a long log
// is written in pieces after that; taken as the last growth of the console
// before it stays the same for two seconds). Each run starts a fresh
// program; prints one line per run: milliseconds, tree nodes, order items,
// console milliseconds.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/helpers/win/window_driver.h"

using namespace quorrin::gui;

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: window_fill QUORRIN_EXE PROJECT RUNS [SEARCH_PATH]...\n");
    return 1;
  }
  const std::string exe = FullPath(WindowsPath(argv[1]));
  const std::string project = FullPath(WindowsPath(argv[2]));
  const int runs = std::atoi(argv[3]);
  std::string searchPaths;
  for (int i = 4; i < argc; ++i) searchPaths += std::string(argv[i]) + "\r\n";

  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  for (int run = 0; run < runs; ++run) {
    QuorrinProcess app(exe);
    SetText(app.Control(100), searchPaths);
    const HWND dialog = app.BeginBrowse();
    if (!dialog) {
      std::fprintf(stderr, "the open-file dialog did not appear\n");
      return 2;
    }
    SetText(GetDlgItem(dialog, 1148), project);
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    PostMessageA(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
    // The window answers once the click handler has ended; then the
    // pending paint is forced through.
    if (!WaitUntil([&] { return !IsWindow(dialog); }, 60000) || !app.WaitIdle(600000)) {
      std::fprintf(stderr, "the window did not finish\n");
      return 2;
    }
    RedrawWindow(app.Main(), nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    QueryPerformanceCounter(&end);
    auto since = [&](const LARGE_INTEGER& t) {
      return 1000.0 * static_cast<double>(t.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
    };
    const double ms = since(end);
    const HWND console = app.Control(107);
    LRESULT length = SendMessageA(console, WM_GETTEXTLENGTH, 0, 0);
    LARGE_INTEGER grown = end, now;
    for (;;) {
      Sleep(20);
      QueryPerformanceCounter(&now);
      const LRESULT l = SendMessageA(console, WM_GETTEXTLENGTH, 0, 0);
      if (l != length) {
        length = l;
        grown = now;
      } else if (since(now) - since(grown) > 2000) {
        break;
      }
    }
    const LRESULT nodes = SendMessageA(app.Control(104), TVM_GETCOUNT, 0, 0);
    const LRESULT items = SendMessageA(app.Control(105), LB_GETCOUNT, 0, 0);
    std::printf("%.1f ms %ld nodes %ld items %.1f ms console\n", ms, static_cast<long>(nodes), static_cast<long>(items),
                since(grown));
    std::fflush(stdout);
    if (app.Close(60000) != 0) {
      std::fprintf(stderr, "the window did not close cleanly\n");
      return 2;
    }
  }
  return 0;
}
