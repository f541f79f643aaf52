// Waits for a message box of another process (the system's, or the
// exception dialog as a message box), prints its text and closes it with
// OK: box_closer <seconds>. Exit code 0 when a box was closed.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

namespace {

HWND g_box = nullptr;

BOOL CALLBACK FindBox(HWND hwnd, LPARAM) {
  char cls[32];
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  if (pid != GetCurrentProcessId() && GetClassNameA(hwnd, cls, sizeof cls) &&
      (lstrcmpA(cls, "#32770") == 0 || lstrcmpA(cls, "KestrixWndClass") == 0) &&
      IsWindowVisible(hwnd)) {
    g_box = hwnd;
    return FALSE;
  }
  return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::atoi(argv[1]) : 20;
  for (int i = 0; i < seconds * 20 && !g_box; ++i) {
    EnumWindows(FindBox, 0);
    if (!g_box) Sleep(50);
  }
  if (!g_box) return 1;
  char text[1024] = {};
  GetDlgItemTextA(g_box, 0xFFFF, text, sizeof text);
  std::printf("%s\n", text);
  std::fflush(stdout);
  PostMessageA(g_box, WM_COMMAND, IDOK, 0);
  return 0;
}
