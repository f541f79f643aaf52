// Answers the boxes of another process:
//   box_closer <seconds>             waits for a message box (the system's, or
//                                    the exception dialog as a message box),
//                                    prints its text and closes it with OK
//   box_closer <seconds> STEP...     presses buttons one after the other: a
//                                    STEP "#32770" is OK in a system dialog
//                                    (the print dialog), "+<ms>" a pause once
//                                    the next step's box is there, any other
//                                    STEP the exception dialog's button of
//                                    that caption
// Each box is waited for at most <seconds>. Exit code 0 when every box was
// answered.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

DWORD g_pause = 0;  // before the next press, once its box is there

struct TSearch {
  const char* cls = nullptr;  // nullptr: either kind of box
  HWND found = nullptr;
};

BOOL CALLBACK FindBox(HWND hwnd, LPARAM param) {
  auto* search = reinterpret_cast<TSearch*>(param);
  char cls[32];
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  if (pid == GetCurrentProcessId() || !IsWindowVisible(hwnd) || !GetClassNameA(hwnd, cls, sizeof cls)) return TRUE;
  const bool match = search->cls ? lstrcmpA(cls, search->cls) == 0
                                 : lstrcmpA(cls, "#32770") == 0 || lstrcmpA(cls, "KestrixWndClass") == 0;
  if (!match) return TRUE;
  search->found = hwnd;
  return FALSE;
}

HWND WaitForBox(const char* cls, int seconds, bool enabled) {
  for (int i = 0; i < seconds * 20; ++i) {
    TSearch search;
    search.cls = cls;
    EnumWindows(FindBox, reinterpret_cast<LPARAM>(&search));
    if (search.found && (!enabled || IsWindowEnabled(search.found))) {
      Sleep(g_pause);
      g_pause = 0;
      return search.found;
    }
    Sleep(50);
  }
  return nullptr;
}

struct TButtonSearch {
  const char* caption;
  HWND found = nullptr;
};

BOOL CALLBACK FindButton(HWND hwnd, LPARAM param) {
  auto* search = reinterpret_cast<TButtonSearch*>(param);
  char text[64] = {};
  GetWindowTextA(hwnd, text, sizeof text);
  if (lstrcmpA(text, search->caption) != 0) return TRUE;
  search->found = hwnd;
  return FALSE;
}

bool PressOk(int seconds) {
  HWND box = WaitForBox("#32770", seconds, true);
  if (!box) return false;
  PostMessageA(box, WM_COMMAND, IDOK, 0);
  for (int i = 0; i < seconds * 20 && IsWindow(box); ++i) Sleep(50);  // gone before the next step
  return true;
}

bool PressButton(const char* caption, int seconds) {
  HWND box = WaitForBox("KestrixWndClass", seconds, true);
  if (!box) return false;
  TButtonSearch search{caption};
  EnumChildWindows(box, FindButton, reinterpret_cast<LPARAM>(&search));
  if (!search.found) {
    std::fprintf(stderr, "no button \"%s\"\n", caption);
    return false;
  }
  PostMessageA(box, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(search.found), BN_CLICKED),
               reinterpret_cast<LPARAM>(search.found));
  return true;
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
      const bool ok = std::strcmp(argv[i], "#32770") == 0 ? PressOk(seconds) : PressButton(argv[i], seconds);
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
