// Answers the boxes of another process:
//   box_closer <seconds>             waits for a message box (the system's, or
//                                    the exception dialog as a message box),
//                                    prints its text and closes it with OK
//   box_closer <seconds> STEP...     presses buttons one after the other: a
//                                    STEP "#32770" is OK in a system dialog
//                                    (the print dialog), "+<ms>" a pause once
//                                    the next step's box is there, any other
//                                    STEP the exception dialog's button of
//                                    that caption, "=gone" no press: the
//                                    exception dialog is waited for and then
//                                    until it has closed by itself
// Each box is waited for at most <seconds>. Exit code 0 when every box was
// answered.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tests/helpers/wait.h"
#include "tests/helpers/win/window_search.h"

namespace {

using testhelpers::WaitUntil;

DWORD g_pause = 0;  // before the next press, once its box is there

// A shown box of another process: of the class, or with cls nullptr either
// kind (the system's dialog or the exception dialog).
HWND FindBox(const char* cls) {
  return testhelpers::FindTopWindow([&](HWND w) {
    if (testhelpers::WindowProcessId(w) == GetCurrentProcessId() || !IsWindowVisible(w)) return false;
    const std::string name = testhelpers::WindowClass(w);
    return cls ? name == cls : name == "#32770" || name == "KestrixWndClass";
  });
}

HWND WaitForBox(const char* cls, int seconds, bool enabled) {
  HWND box = nullptr;
  if (!WaitUntil([&] { return (box = FindBox(cls)) != nullptr && (!enabled || IsWindowEnabled(box)); },
                 seconds * 1000, 50))
    return nullptr;
  Sleep(g_pause);  // the pause the steps asked for ("+<ms>"), not a wait for the box
  g_pause = 0;
  return box;
}

bool PressOk(int seconds) {
  HWND box = WaitForBox("#32770", seconds, true);
  if (!box) return false;
  PostMessageA(box, WM_COMMAND, IDOK, 0);
  WaitUntil([&] { return !IsWindow(box); }, seconds * 1000, 50);  // gone before the next step
  return true;
}

bool PressButton(const char* caption, int seconds) {
  HWND box = WaitForBox("KestrixWndClass", seconds, true);
  if (!box) return false;
  HWND button = testhelpers::FindChildWindow(box, [&](HWND w) {
    char text[64] = {};
    GetWindowTextA(w, text, sizeof text);
    return lstrcmpA(text, caption) == 0;
  });
  if (!button) {
    std::fprintf(stderr, "no button \"%s\"\n", caption);
    return false;
  }
  PostMessageA(box, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(button), BN_CLICKED), reinterpret_cast<LPARAM>(button));
  return true;
}

bool WatchUntilGone(int seconds) {
  HWND box = WaitForBox("KestrixWndClass", seconds, false);
  return box && WaitUntil([&] { return !IsWindow(box); }, seconds * 1000, 50);
}

}  // namespace

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::atoi(argv[1]) : 20;
  if (argc > 2) {
    for (int i = 2; i < argc; ++i) {
      if (argv[i][0] == '+') {
        g_pause = static_cast<DWORD>(std::atoi(argv[i] + 1));
        continue;
      }
      const bool ok = std::strcmp(argv[i], "#32770") == 0 ? PressOk(seconds)
                      : std::strcmp(argv[i], "=gone") == 0 ? WatchUntilGone(seconds)
                                                            : PressButton(argv[i], seconds);
      if (!ok) {
        std::fprintf(stderr, "step %d (%s) not answered\n", i - 1, argv[i]);
        return 1;
      }
      std::printf("pressed %s\n", argv[i]);
      std::fflush(stdout);
    }
    return 0;
  }
  HWND box = WaitForBox(nullptr, seconds, false);
  if (!box) return 1;
  char text[1024] = {};
  GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
  std::printf("%s\n", text);
  std::fflush(stdout);
  PostMessageA(box, WM_COMMAND, IDOK, 0);
  return 0;
}
