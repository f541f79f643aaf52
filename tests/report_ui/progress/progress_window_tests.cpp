// The progress window on the window system (run under Xvfb): geometry,
// texts, bar values, pictures, and the close rules across threads.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "report_ui/progress/progress_alert.h"

namespace kestrix {
namespace {

void Pump(DWORD milliseconds = 50) {
  DWORD end = GetTickCount() + milliseconds;
  do {
    MSG m;
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&m);
      DispatchMessageA(&m);
    }
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  } while (GetTickCount() < end);
}

std::string Text(HWND w) {
  char buffer[512] = {};
  GetWindowTextA(w, buffer, sizeof buffer);
  return buffer;
}

// A child's rectangle in its parent's client coordinates.
RECT ChildRect(HWND child) {
  RECT r;
  GetWindowRect(child, &r);
  MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT*>(&r), 2);
  return r;
}

int BarPos(HWND bar) { return static_cast<int>(SendMessageA(bar, PBM_GETPOS, 0, 0)); }

TProgressWindows Open(IProgressAlert* a, bool activate = true, HWND owner = nullptr) {
  EXPECT_TRUE(a->OpenWindow(owner, activate));
  TProgressWindows w{};
  EXPECT_TRUE(GetProgressWindows(a, w));
  Pump();
  return w;
}

TEST(ProgressWindow, PleaseWaitWindowAndItsGeometry) {
  KXPtr<IProgressAlert> a = CreateProgressAlert("Information", nullptr, "");
  TProgressWindows w = Open(a.get());
  char cls[64];
  GetClassNameA(w.main, cls, sizeof cls);
  EXPECT_STREQ(cls, "prgrAlertWndClass");
  EXPECT_EQ(Text(w.main), "Information");
  EXPECT_EQ(Text(w.label), "Please wait...");
  EXPECT_EQ(BarPos(w.bar), 0);
  EXPECT_EQ(w.picture, nullptr);
  LONG style = GetWindowLongA(w.main, GWL_STYLE);
  LONG ex = GetWindowLongA(w.main, GWL_EXSTYLE);
  EXPECT_EQ(style & WS_SYSMENU, 0);  // no close button
  EXPECT_EQ(style & WS_CAPTION, WS_CAPTION);
  EXPECT_TRUE(ex & WS_EX_TOPMOST);
  EXPECT_TRUE(ex & WS_EX_TOOLWINDOW);
  EXPECT_TRUE(ex & WS_EX_DLGMODALFRAME);

  RECT label = ChildRect(w.label), bar = ChildRect(w.bar);
  int labelW = label.right - label.left, labelH = label.bottom - label.top;
  EXPECT_EQ(label.left, 11);
  EXPECT_EQ(label.top, 12);
  EXPECT_EQ(labelW, 220);  // a short text gets the minimum width
  EXPECT_EQ(bar.left, 11);
  EXPECT_EQ(bar.top, labelH + 24);
  EXPECT_EQ(bar.right - bar.left, labelW);
  EXPECT_EQ(bar.bottom - bar.top, GetSystemMetrics(SM_CXVSCROLL));
  RECT win;
  GetWindowRect(w.main, &win);
  int width = win.right - win.left, height = win.bottom - win.top;
  EXPECT_EQ(width, labelW + 22 + 2 * GetSystemMetrics(SM_CXDLGFRAME));
  EXPECT_EQ(height, labelH + 36 + GetSystemMetrics(SM_CYSMCAPTION) + GetSystemMetrics(SM_CXVSCROLL) +
                        2 * GetSystemMetrics(SM_CYDLGFRAME));
  // Activated: centred on the screen.
  EXPECT_EQ(win.left, (GetSystemMetrics(SM_CXSCREEN) - width) / 2);
  EXPECT_EQ(win.top, (GetSystemMetrics(SM_CYSCREEN) - height) / 2);
  EXPECT_TRUE(IsWindowVisible(w.main));

  // A second OpenWindow changes nothing.
  EXPECT_FALSE(a->OpenWindow(nullptr, false));
  TProgressWindows again{};
  GetProgressWindows(a.get(), again);
  EXPECT_EQ(again.main, w.main);
  a->SetWindowTitle("Sending bug report...");
  EXPECT_EQ(Text(w.main), "Sending bug report...");
  a->CloseWindow();
  EXPECT_FALSE(IsWindow(w.main));
  // It may be opened again.
  TProgressWindows reopened = Open(a.get(), false);
  EXPECT_TRUE(IsWindow(reopened.main));
  a->CloseWindow();
}

TEST(ProgressWindow, LabelMeasuresTheRemainingAreas) {
  const std::string longText(60, 'W');
  KXPtr<IProgressAlert> a = CreateProgressAlert("t", nullptr, "");
  a->AppendArea("Preparing attachments... and a good deal more text than the rest", 1);
  a->AppendArea("short", 1);
  a->AppendArea("a somewhat longer text than short", 1);
  a->SetActiveArea(1);  // the first area no longer counts
  TProgressWindows w = Open(a.get());
  RECT r = ChildRect(w.label);
  int without = r.right - r.left;
  EXPECT_EQ(Text(w.label), "short");
  a->CloseWindow();

  KXPtr<IProgressAlert> b = CreateProgressAlert("t", nullptr, "");
  b->AppendArea("short", 1);
  b->AppendArea("a somewhat longer text than short, much longer indeed", 1);
  b->AppendArea("Preparing attachments... and a good deal more text than the rest", 1);
  w = Open(b.get());
  r = ChildRect(w.label);
  EXPECT_GT(r.right - r.left, without);  // later areas enlarge it
  int oneLine = r.bottom - r.top;
  b->CloseWindow();

  // Long words and texts wrap within 420 pixels.
  KXPtr<IProgressAlert> c = CreateProgressAlert("t", nullptr, "");
  std::string paragraph;
  for (int i = 0; i < 30; ++i) paragraph += "wrapping text ";
  c->AppendArea(paragraph, 1);
  w = Open(c.get());
  r = ChildRect(w.label);
  EXPECT_LE(r.right - r.left, 420);
  EXPECT_GT(r.bottom - r.top, 2 * oneLine);
  c->CloseWindow();
}

TEST(ProgressWindow, BarFollowsAreasAndPositions) {
  KXPtr<IProgressAlert> a = CreateProgressAlert("t", nullptr, "");
  a->AppendArea("Connecting to server...", 100);
  a->AppendArea("", 100);
  a->AppendArea("Sending mail...", 800);
  TProgressWindows w = Open(a.get());
  a->SetActiveArea(1);
  EXPECT_EQ(Text(w.label), "Connecting to server...");  // inherited text
  a->SetAreaPosition(500);
  EXPECT_EQ(BarPos(w.bar), 150);
  a->FinishArea();
  EXPECT_EQ(a->ActiveArea(), 2);
  EXPECT_EQ(a->AreaPosition(), 0);
  EXPECT_EQ(Text(w.label), "Sending mail...");
  EXPECT_EQ(BarPos(w.bar), 200);
  a->SetActiveArea(3);  // the number of areas: all done
  EXPECT_EQ(a->ActiveArea(), 2);
  EXPECT_EQ(a->AreaPosition(), 1000);
  EXPECT_EQ(BarPos(w.bar), 1000);
  a->SetActiveArea(4);
  a->SetActiveArea(-1);
  EXPECT_EQ(a->ActiveArea(), 2);
  a->SetActiveArea(0);
  EXPECT_EQ(BarPos(w.bar), 0);

  // From another thread the value is posted and arrives with the pump.
  std::thread([&] { a->SetAreaPosition(1000); }).join();
  Pump();
  EXPECT_EQ(BarPos(w.bar), 100);
  a->RemoveAreas();
  EXPECT_EQ(a->ActiveArea(), 0);
  EXPECT_EQ(a->AreaPosition(), 1000);  // unchanged
  a->CloseWindow();
}

TEST(ProgressWindow, UserCannotCloseItButAnyThreadCan) {
  HWND owner = CreateWindowExA(0, "STATIC", "owner", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr,
                               nullptr, nullptr, nullptr);
  ASSERT_TRUE(owner);
  KXPtr<IProgressAlert> a = CreateProgressAlert("t", nullptr, "");
  TProgressWindows w = Open(a.get(), true, owner);
  EXPECT_FALSE(IsWindowEnabled(owner));
  PostMessageA(w.main, WM_SYSKEYDOWN, VK_F4, 1 << 29);  // Alt+F4
  PostMessageA(w.main, WM_SYSCOMMAND, SC_CLOSE, 0);
  PostMessageA(w.main, WM_CLOSE, 0, 0);
  Pump(200);
  EXPECT_TRUE(IsWindow(w.main));

  std::atomic<bool> done{false};
  std::thread closer([&] {
    a->CloseWindow();
    done = true;
  });
  for (DWORD start = GetTickCount(); !done && GetTickCount() - start < 5000;) Pump(20);
  closer.join();
  EXPECT_TRUE(done);
  EXPECT_FALSE(IsWindow(w.main));
  EXPECT_TRUE(IsWindowEnabled(owner));
  a->CloseWindow();  // nothing left to close
  DestroyWindow(owner);
}

// Reads the screen pixel at a point of a window's client area.
COLORREF PixelAt(HWND window, int x, int y) {
  HDC dc = GetDC(window);
  COLORREF c = GetPixel(dc, x, y);
  ReleaseDC(window, dc);
  return c;
}

TEST(ProgressWindow, PictureIsBlendedOverTheButtonFace) {
  KXPtr<IProgressAlert> a = CreateProgressAlert("t", GetModuleHandleA(nullptr), "KXIPLWAIT");
  a->AppendArea("Please wait a moment...", 1);
  TProgressWindows w = Open(a.get());
  ASSERT_TRUE(w.picture);
  RECT p = ChildRect(w.picture);
  EXPECT_EQ(p.left, 9);
  EXPECT_EQ(p.top, 9);
  EXPECT_EQ(p.right - p.left, 32);
  EXPECT_EQ(p.bottom - p.top, 32);
  EXPECT_FALSE(IsWindowEnabled(w.picture));
  EXPECT_EQ(GetWindowLongA(w.picture, GWL_STYLE) & BS_TYPEMASK, BS_OWNERDRAW);
  RECT label = ChildRect(w.label);
  EXPECT_EQ(label.left, 51);
  EXPECT_EQ(label.bottom - label.top, 26);  // raised to the picture's height
  InvalidateRect(w.picture, nullptr, TRUE);
  UpdateWindow(w.picture);
  Pump(100);
  // Transparent corner: the face colour; the clock's centre: its own red;
  // the minute hand points up (rows are not mirrored).
  COLORREF face = GetSysColor(COLOR_BTNFACE);
  EXPECT_EQ(PixelAt(w.picture, 0, 0),  // alpha 0 still weighs the pixel 1/256
            RGB(GetRValue(face) * 255 / 256, GetGValue(face) * 255 / 256, GetBValue(face) * 255 / 256));
  EXPECT_EQ(PixelAt(w.picture, 16, 16), RGB(200, 40, 40));
  EXPECT_EQ(PixelAt(w.picture, 16, 10), RGB(30, 30, 30));
  EXPECT_EQ(PixelAt(w.picture, 16, 22), RGB(250, 250, 245));
  a->CloseWindow();

  // Without activation: bottom right of the work area.
  KXPtr<IProgressAlert> send = CreateProgressAlert("t", GetModuleHandleA(nullptr), "KXISEND32");
  w = Open(send.get(), false);
  EXPECT_TRUE(w.picture);
  RECT win, work;
  GetWindowRect(w.main, &win);
  SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
  EXPECT_EQ(win.right, work.right - 2);
  EXPECT_EQ(win.bottom, work.bottom - 2);
  send->CloseWindow();
}

TEST(ProgressWindow, OtherPictureSizesLeaveTheBoxEmpty) {
  KXPtr<IProgressAlert> a = CreateProgressAlert("t", GetModuleHandleA(nullptr), "KXTESTSMALL");
  TProgressWindows w = Open(a.get());
  ASSERT_TRUE(w.picture);  // the resource exists: a box without picture
  InvalidateRect(w.picture, nullptr, TRUE);
  UpdateWindow(w.picture);
  Pump(100);
  EXPECT_NE(PixelAt(w.picture, 4, 4), RGB(255, 0, 0));
  a->CloseWindow();
  KXPtr<IProgressAlert> none = CreateProgressAlert("t", GetModuleHandleA(nullptr), "KXNOSUCH");
  w = Open(none.get());
  EXPECT_EQ(w.picture, nullptr);
  EXPECT_EQ(ChildRect(w.label).left, 11);
  none->CloseWindow();
}

}  // namespace
}  // namespace kestrix
