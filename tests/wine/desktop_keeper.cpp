// Keeps Wine's desktop in use for as long as it runs.
//
// Wine starts its desktop process ("explorer.exe /desktop") from the first
// program that needs a window, and that process inherits the program's
// standard output and error. Once no program uses the desktop for a second,
// it ends, and the next program starts a new one. A test that reads a
// program's output through a pipe then waits for the desktop process, not
// for the program. Started first, with its output going nowhere, this
// program owns the desktop process for the whole run; `wineserver -k` ends
// it.
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  HWND window = CreateWindowExA(0, "STATIC", "desktop keeper", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, nullptr);
  // A top-level hidden window keeps this thread a desktop user.
  HWND hidden = CreateWindowExA(WS_EX_TOOLWINDOW, "STATIC", "desktop keeper", WS_POPUP, 0, 0, 1, 1, nullptr,
                                nullptr, instance, nullptr);
  if (!window && !hidden) return 1;
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchMessageA(&msg);
  return 0;
}
