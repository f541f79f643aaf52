// The library's hidden message window of the main thread.
#include "crash/handling/win/library_window_win32.h"

#include "crash/handling/win/handling_state_win32.h"
#include "crash/handling/win/pausing_win32.h"

namespace kestrix {
namespace {

LRESULT CALLBACK LibraryWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  THandlingState& s = HandlingState();
  if (msg != 0 && msg == s.probeMessage)
    if (auto probe = s.probeHandler.load()) return probe(wp, lp);
  if (msg != kLibraryMessage) return DefWindowProcA(hwnd, msg, wp, lp);
  PauseCheck();
  if (wp == 0 && lp) RunMainThreadHandlers(*reinterpret_cast<const TMainThreadRun*>(lp));
  return kLibraryAnswer;
}

}  // namespace

bool CreateLibraryWindow() {
  THandlingState& s = HandlingState();
  if (s.window) return true;
  WNDCLASSA wc{};
  wc.lpfnWndProc = LibraryWindowProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = "TKestrixMessageWindow";
  RegisterClassA(&wc);
  s.window = CreateWindowExA(0, wc.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
  return s.window != nullptr;
}

HWND LibraryWindow() { return HandlingState().window; }

void SetLibraryWindowProbe(UINT message, LRESULT (*handler)(WPARAM, LPARAM)) {
  THandlingState& s = HandlingState();
  s.probeHandler = nullptr;
  s.probeMessage = message;
  s.probeHandler = handler;
}

void DestroyLibraryWindow() {
  THandlingState& s = HandlingState();
  if (s.window && GetCurrentThreadId() == GetWindowThreadProcessId(s.window, nullptr)) DestroyWindow(s.window);
  s.window = nullptr;
}

}  // namespace kestrix
