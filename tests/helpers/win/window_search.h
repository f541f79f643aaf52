// Finding windows, also of other processes: top-level windows and children
// picked by a condition, and the facts such conditions ask for.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace testhelpers {

inline std::string WindowClass(HWND window) {
  char name[256] = "";
  GetClassNameA(window, name, sizeof name);
  return name;
}

// WM_GETTEXT, which the system marshals for every window class.
inline std::string WindowText(HWND window) {
  const LRESULT length = SendMessageA(window, WM_GETTEXTLENGTH, 0, 0);
  std::string text(static_cast<size_t>(length > 0 ? length : 0) + 1, '\0');
  const LRESULT got = SendMessageA(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
  text.resize(static_cast<size_t>(got > 0 ? got : 0));
  return text;
}

// Has the window and its children painted now by their thread, and returns
// once that thread has handled every message sent to it before (false when it
// did not answer within timeoutMs).
inline bool PaintNow(HWND window, UINT timeoutMs = 5000) {
  RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  DWORD_PTR result = 0;
  return SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, timeoutMs, &result) != 0;
}

inline DWORD WindowProcessId(HWND window) {
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  return pid;
}

namespace detail {

template <class F>
struct TWindowSearch {
  F* match;
  bool all;
  std::vector<HWND> found;

  // The match must not throw: nothing may unwind through the system's
  // enumeration.
  static BOOL CALLBACK Visit(HWND window, LPARAM self) {
    auto* s = reinterpret_cast<TWindowSearch*>(self);
    if (!(*s->match)(window)) return TRUE;
    s->found.push_back(window);
    return s->all ? TRUE : FALSE;
  }
};

}  // namespace detail

// Top-level windows for which match(window) holds, in Z order; the first only
// unless `all`.
template <class F>
std::vector<HWND> TopWindows(F match, bool all = true) {
  detail::TWindowSearch<F> search{&match, all, {}};
  EnumWindows(detail::TWindowSearch<F>::Visit, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

template <class F>
HWND FindTopWindow(F match) {
  const std::vector<HWND> found = TopWindows(match, false);
  return found.empty() ? nullptr : found.front();
}

// Descendants of parent for which match(window) holds.
template <class F>
std::vector<HWND> ChildWindows(HWND parent, F match, bool all = true) {
  detail::TWindowSearch<F> search{&match, all, {}};
  EnumChildWindows(parent, detail::TWindowSearch<F>::Visit, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

template <class F>
HWND FindChildWindow(HWND parent, F match) {
  const std::vector<HWND> found = ChildWindows(parent, match, false);
  return found.empty() ? nullptr : found.front();
}

}  // namespace testhelpers
