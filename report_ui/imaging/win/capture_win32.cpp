// Screen capture with GDI: the screen's drawing context copied into a DIB
// section, through the visible region of the program's windows as clip for
// an application-only picture, and the cursor drawn on top.
#include "report_ui/imaging/win/capture_win32.h"

#include <cstring>
#include <vector>

namespace kestrix::imaging {
namespace {

// The display's context, released on every way out.
class TScreenDC {
 public:
  TScreenDC() : dc_(GetDC(nullptr)) {}
  ~TScreenDC() {
    if (dc_) ReleaseDC(nullptr, dc_);
  }
  TScreenDC(const TScreenDC&) = delete;
  TScreenDC& operator=(const TScreenDC&) = delete;
  HDC get() const { return dc_; }

 private:
  HDC dc_;
};

bool Shown(HWND w) {
  RECT r;
  return IsWindowVisible(w) && !IsIconic(w) && GetWindowRect(w, &r) && !IsRectEmpty(&r);
}

// The capture area: the virtual screen, or the primary screen when no
// monitor is reported.
RECT CaptureArea(HDC screen) {
  RECT area{};
  if (GetSystemMetrics(SM_CMONITORS) > 0) {
    area.left = GetSystemMetrics(SM_XVIRTUALSCREEN);
    area.top = GetSystemMetrics(SM_YVIRTUALSCREEN);
    area.right = area.left + GetSystemMetrics(SM_CXVIRTUALSCREEN);
    area.bottom = area.top + GetSystemMetrics(SM_CYVIRTUALSCREEN);
  } else {
    area.right = GetDeviceCaps(screen, HORZRES);
    area.bottom = GetDeviceCaps(screen, VERTRES);
  }
  return area;
}

void DrawCursor(HDC target, const RECT& area) {
  CURSORINFO cursor{};
  cursor.cbSize = sizeof cursor;
  if (!GetCursorInfo(&cursor) || !(cursor.flags & CURSOR_SHOWING) || !cursor.hCursor) return;
  ICONINFO icon{};
  if (!GetIconInfo(cursor.hCursor, &icon)) return;
  if (icon.hbmMask) DeleteObject(icon.hbmMask);
  if (icon.hbmColor) DeleteObject(icon.hbmColor);
  DrawIconEx(target, cursor.ptScreenPos.x - static_cast<int>(icon.xHotspot) - area.left,
             cursor.ptScreenPos.y - static_cast<int>(icon.yHotspot) - area.top, cursor.hCursor, 0, 0, 0, nullptr,
             DI_NORMAL);
}

BOOL CALLBACK CollectWindow(HWND w, LPARAM list) {
  try {
    reinterpret_cast<std::vector<HWND>*>(list)->push_back(w);
    return TRUE;
  } catch (...) {
    return FALSE;  // no exception may cross the system's callback
  }
}

}  // namespace

HRGN VisibleRegionOfProcess(DWORD processId, RECT& bounds) {
  // Top-level windows from the top of the z-order down.
  std::vector<HWND> windows;
  EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&windows));
  SetRectEmpty(&bounds);
  HRGN visible = CreateRectRgn(0, 0, 0, 0);
  HRGN above = CreateRectRgn(0, 0, 0, 0);
  HRGN part = CreateRectRgn(0, 0, 0, 0);
  bool any = false;
  for (HWND w : windows) {
    if (!Shown(w)) continue;
    RECT r;
    GetWindowRect(w, &r);
    DWORD owner = 0;
    GetWindowThreadProcessId(w, &owner);
    if (owner == processId) {
      any = true;
      UnionRect(&bounds, &bounds, &r);
      SetRectRgn(part, r.left, r.top, r.right, r.bottom);
      CombineRgn(part, part, above, RGN_DIFF);
      CombineRgn(visible, visible, part, RGN_OR);
    }
    SetRectRgn(part, r.left, r.top, r.right, r.bottom);
    CombineRgn(above, above, part, RGN_OR);
  }
  DeleteObject(above);
  DeleteObject(part);
  if (!any) {
    DeleteObject(visible);
    return nullptr;
  }
  return visible;
}

KXPtr<INVBitmap> CaptureScreen(bool appOnly) {
  TScreenDC screen;
  if (!screen.get()) return KXPtr<INVBitmap>();
  RECT area = CaptureArea(screen.get());
  if (IsRectEmpty(&area)) return KXPtr<INVBitmap>();

  RECT box = area;
  HRGN clip = nullptr;
  if (appOnly) {
    RECT bounds;
    clip = VisibleRegionOfProcess(GetCurrentProcessId(), bounds);
    if (!clip) return KXPtr<INVBitmap>();
    if (!IntersectRect(&box, &bounds, &area)) {
      DeleteObject(clip);
      return KXPtr<INVBitmap>();
    }
    RECT extent;
    if (GetRgnBox(clip, &extent) == NULLREGION) {
      DeleteObject(clip);
      return KXPtr<INVBitmap>();
    }
  }

  KXPtr<INVBitmap> bitmap = CreateNVBitmap(box.right - box.left, box.bottom - box.top);
  if (!bitmap) {
    if (clip) DeleteObject(clip);
    return bitmap;
  }
  HDC target = static_cast<HDC>(bitmap->DC());
  const int width = bitmap->Width(), height = bitmap->Height();
  bool copied;
  if (clip) {
    // White outside the program's visible window parts.
    std::memset(bitmap->Bits(), 0xFF, static_cast<size_t>(width) * static_cast<size_t>(height) * 4);
    OffsetRgn(clip, -box.left, -box.top);
    SelectClipRgn(target, clip);
    copied = BitBlt(target, 0, 0, width, height, screen.get(), box.left, box.top, SRCCOPY) != FALSE;
    SelectClipRgn(target, nullptr);
    DeleteObject(clip);
  } else {
    copied = BitBlt(target, 0, 0, width, height, screen.get(), box.left, box.top, SRCCOPY | CAPTUREBLT) != FALSE;
  }
  if (!copied) return KXPtr<INVBitmap>();
  DrawCursor(target, box);
  GdiFlush();
  return bitmap;
}

}  // namespace kestrix::imaging
