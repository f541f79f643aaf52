// Screen capture under a real display: the whole virtual screen, the
// program's own windows only (covered parts white), the cursor drawn in,
// the bitmap drawn into another context.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "report_ui/imaging/inv_bitmap.h"
#include "report_ui/imaging/win/capture_win32.h"
#include "tests/helpers/wait.h"
#include "tests/helpers/win/window_search.h"

namespace kestrix::imaging {
namespace {

// The test window's colour at client column x: red rises left to right.
COLORREF Painted(int x) { return RGB(x & 0xFF, 90, 200); }

LRESULT CALLBACK TestWindowProc(HWND w, UINT message, WPARAM wp, LPARAM lp) {
  if (message == WM_PAINT) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(w, &ps);
    RECT r;
    GetClientRect(w, &r);
    for (int x = 0; x < r.right; ++x) {
      HBRUSH brush = CreateSolidBrush(Painted(x));
      RECT column{x, 0, x + 1, r.bottom};
      FillRect(dc, &column, brush);
      DeleteObject(brush);
    }
    EndPaint(w, &ps);
    return 0;
  }
  return DefWindowProcA(w, message, wp, lp);
}

// Handles this thread's messages until cond holds; false after 5 seconds.
template <class F>
bool PumpUntil(F cond) {
  return testhelpers::WaitUntil(
      [&] {
        MSG m;
        while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&m);
        return cond();
      },
      5000, 10);
}

bool ScreenShows(int x, int y, COLORREF colour) {
  HDC screen = GetDC(nullptr);
  const COLORREF seen = GetPixel(screen, x, y);
  ReleaseDC(nullptr, screen);
  return seen == colour;
}

bool CursorAt(int x, int y) {
  POINT at{};
  return GetCursorPos(&at) && at.x == x && at.y == y;
}

class Capture : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!GetSystemMetrics(SM_CXSCREEN)) GTEST_SKIP() << "no display";
    WNDCLASSA c{};
    c.lpfnWndProc = TestWindowProc;
    c.hInstance = GetModuleHandleA(nullptr);
    c.lpszClassName = "KxCaptureTest";
    c.hCursor = LoadCursor(nullptr, IDC_ARROW);
    RegisterClassA(&c);
    window_ = CreateWindowExA(WS_EX_TOPMOST, "KxCaptureTest", "capture", WS_POPUP | WS_VISIBLE, 100, 120, 256, 160,
                              nullptr, nullptr, c.hInstance, nullptr);
    ASSERT_TRUE(window_);
    SetCursorPos(GetSystemMetrics(SM_CXVIRTUALSCREEN) - 2, GetSystemMetrics(SM_CYVIRTUALSCREEN) - 2);
    UpdateWindow(window_);
    PumpUntil([] {
      return ScreenShows(100 + 17, 120 + 80, Painted(17)) && ScreenShows(100 + 255, 120 + 80, Painted(255));
    });
  }
  void TearDown() override {
    if (window_) DestroyWindow(window_);
  }
  // The pixel (x, y) from the top of a bitmap as a COLORREF.
  static COLORREF PixelAt(INVBitmap* b, int x, int y) {
    const uint8_t* p = b->Bits() + (static_cast<size_t>(b->Height() - 1 - y) * b->Width() + x) * 4;
    return RGB(p[2], p[1], p[0]);
  }
  HWND window_ = nullptr;
};

TEST_F(Capture, WholeScreenHasTheVirtualScreensSizeAndTheWindow) {
  KXPtr<INVBitmap> shot = CaptureScreen(false);
  ASSERT_TRUE(shot);
  EXPECT_EQ(shot->Width(), GetSystemMetrics(SM_CXVIRTUALSCREEN));
  EXPECT_EQ(shot->Height(), GetSystemMetrics(SM_CYVIRTUALSCREEN));
  const int left = 100 - GetSystemMetrics(SM_XVIRTUALSCREEN), top = 120 - GetSystemMetrics(SM_YVIRTUALSCREEN);
  for (int x : {0, 17, 128, 255}) EXPECT_EQ(PixelAt(shot.get(), left + x, top + 80), Painted(x)) << x;
}

TEST_F(Capture, AppOnlyIsTheWindowsBoxAndLeavesCoveredPartsWhite) {
  KXPtr<INVBitmap> shot = CaptureScreen(true);
  ASSERT_TRUE(shot);
  EXPECT_EQ(shot->Width(), 256);
  EXPECT_EQ(shot->Height(), 160);
  EXPECT_EQ(PixelAt(shot.get(), 200, 10), Painted(200));

  // Another program's window over the right half.
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  char command[] = "notepad.exe";
  ASSERT_TRUE(CreateProcessA(nullptr, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
  WaitForInputIdle(pi.hProcess, 5000);
  HWND notepad = nullptr;
  testhelpers::WaitUntil(
      [&] {
        notepad = testhelpers::FindTopWindow([&](HWND w) {
          return testhelpers::WindowProcessId(w) == pi.dwProcessId && testhelpers::WindowClass(w) == "Notepad";
        });
        return notepad != nullptr;
      },
      5000, 50);
  ASSERT_TRUE(notepad);
  SetWindowPos(notepad, HWND_TOPMOST, 100 + 128, 0, 400, 400, SWP_SHOWWINDOW);
  // Notepad in its place, and the left half it uncovered painted again.
  testhelpers::PaintNow(notepad);
  PumpUntil([&] {
    RECT r{};
    return IsWindowVisible(notepad) && GetWindowRect(notepad, &r) && r.left == 228 && r.top == 0 && r.right == 628 &&
           r.bottom == 400 && ScreenShows(100 + 20, 120 + 5, Painted(20)) &&
           ScreenShows(100 + 127, 120 + 150, Painted(127));
  });
  shot = CaptureScreen(true);
  PostMessageA(notepad, WM_CLOSE, 0, 0);
  if (WaitForSingleObject(pi.hProcess, 5000) != WAIT_OBJECT_0) TerminateProcess(pi.hProcess, 0);
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
  ASSERT_TRUE(shot);
  EXPECT_EQ(shot->Width(), 256);
  for (int y : {5, 80, 150}) {
    EXPECT_EQ(PixelAt(shot.get(), 20, y), Painted(20)) << y;
    EXPECT_EQ(PixelAt(shot.get(), 127, y), Painted(127)) << y;
    EXPECT_EQ(PixelAt(shot.get(), 128, y), RGB(255, 255, 255)) << y;
    EXPECT_EQ(PixelAt(shot.get(), 250, y), RGB(255, 255, 255)) << y;
  }
}

TEST_F(Capture, NoWindowShownNoAppOnlyPicture) {
  ShowWindow(window_, SW_HIDE);
  PumpUntil([&] { return !IsWindowVisible(window_); });
  EXPECT_FALSE(CaptureScreen(true));
  ShowWindow(window_, SW_SHOWNOACTIVATE);
  ShowWindow(window_, SW_MINIMIZE);
  PumpUntil([&] { return IsIconic(window_) != FALSE; });
  EXPECT_FALSE(CaptureScreen(true));
}

TEST_F(Capture, TheCursorIsDrawnIn) {
  SetCursorPos(100 + 60, 120 + 60);
  PumpUntil([] { return CursorAt(100 + 60, 120 + 60); });
  CURSORINFO info{};
  info.cbSize = sizeof info;
  if (!GetCursorInfo(&info) || !(info.flags & CURSOR_SHOWING)) GTEST_SKIP() << "the system shows no cursor";
  KXPtr<INVBitmap> shot = CaptureScreen(true);
  ASSERT_TRUE(shot);
  // The arrow's pixels near its hot spot differ from the painting.
  int changed = 0;
  for (int y = 60; y < 76; ++y)
    for (int x = 60; x < 72; ++x) changed += PixelAt(shot.get(), x, y) != Painted(x);
  EXPECT_GT(changed, 10);
  // Far from the cursor the painting is untouched.
  EXPECT_EQ(PixelAt(shot.get(), 200, 140), Painted(200));
}

TEST_F(Capture, TheBitmapDrawsIntoAnotherContextAndZooms) {
  KXPtr<INVBitmap> shot = CaptureScreen(true);
  ASSERT_TRUE(shot);
  KXPtr<INVBitmap> copy = CreateNVBitmap(300, 200);
  ASSERT_TRUE(copy);
  ASSERT_TRUE(shot->Draw(copy->DC(), 10, 20));
  GdiFlush();
  EXPECT_EQ(PixelAt(copy.get(), 10 + 77, 20 + 5), Painted(77));
  KXPtr<INVBitmap> small = shot->Zoom(64, 64);
  ASSERT_TRUE(small);
  EXPECT_EQ(small->Width(), 64);
  EXPECT_EQ(small->Height(), 40);
  // A flat row of the painting keeps its green and blue.
  EXPECT_NEAR(GetGValue(PixelAt(small.get(), 30, 20)), 90, 2);
  EXPECT_NEAR(GetBValue(PixelAt(small.get(), 30, 20)), 200, 2);
}

}  // namespace
}  // namespace kestrix::imaging
