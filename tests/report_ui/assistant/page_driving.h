// Driving the library's windows of another process from a test driver:
// waiting, finding pages, typing, clicking, screenshots, and the checks.
#pragma once

#include <windows.h>

#include <cstdio>
#include <string>

#include "tests/helpers/wait.h"
#include "tests/helpers/win/window_search.h"

namespace pagedriving {

inline int g_failures = 0;
#define CHECK(cond)                                    \
  do {                                                 \
    if (!(cond)) {                                     \
      printf("FAILED line %d: %s\n", __LINE__, #cond); \
      fflush(stdout);                                  \
      ++pagedriving::g_failures;                       \
    }                                                  \
  } while (0)

using testhelpers::WaitUntil;

// Has every shown window of the other processes painted, prints "SHOT name"
// and waits for a line on standard input while the caller takes a
// screenshot.
inline void Shot(const char* name) {
  const DWORD self = GetCurrentProcessId();
  for (HWND w : testhelpers::TopWindows(
           [&](HWND w) { return IsWindowVisible(w) && testhelpers::WindowProcessId(w) != self; }))
    testhelpers::PaintNow(w, 2000);
  printf("SHOT %s\n", name);
  fflush(stdout);
  char line[64];
  fgets(line, sizeof line, stdin);
}

// A visible top-level window of the class, other than `skip`.
inline HWND FindWindowOfClass(const char* className, HWND skip = nullptr) {
  return testhelpers::FindTopWindow(
      [&](HWND w) { return w != skip && IsWindowVisible(w) && testhelpers::WindowClass(w) == className; });
}

inline HWND WaitForWindowOfClass(const char* className, HWND skip = nullptr, int ms = 15000) {
  HWND found = nullptr;
  WaitUntil([&] { return (found = FindWindowOfClass(className, skip)) != nullptr; }, ms);
  return found;
}

// The next assistant page (not `previous`).
inline HWND FindPage(HWND previous) { return WaitForWindowOfClass("KestrixNVForm", previous); }

// Item i of a page (0, 1, 2: Continue, Skip, Cancel).
inline HWND Item(HWND page, int index) { return GetDlgItem(page, 100 + index); }

inline std::string Text(HWND w) { return testhelpers::WindowText(w); }

inline void Type(HWND edit, const char* text) { SendMessageA(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text)); }
// Typing into a memo, key by key (setting a multi-line edit's text
// announces no change).
inline void TypeKeys(HWND edit, const char* text) {
  for (const char* c = text; *c; ++c)
    if (*c != '\n') PostMessageA(edit, WM_CHAR, static_cast<unsigned char>(*c), 0);
}
inline void Click(HWND button) { PostMessageA(button, BM_CLICK, 0, 0); }
inline bool Enabled(HWND w) { return IsWindowEnabled(w) != FALSE; }
inline bool Checked(HWND w) { return SendMessageA(w, BM_GETCHECK, 0, 0) == BST_CHECKED; }

}  // namespace pagedriving
