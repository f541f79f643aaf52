// Screen capture with GDI: the screen's drawing context copied into a DIB
// section, through the visible region of the program's windows as clip for
// an application-only picture, and the cursor drawn on top.
#include "report_ui/imaging/win/capture_win32.h"

#include <cstring>
#include <vector>

#include "crash/base/win/scoped_gdi.h"

namespace kestrix::imaging {
namespace {

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
  // The cursor's bitmaps, copies made for this call.
  TScopedBitmap mask(icon.hbmMask), color(icon.hbmColor);
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
  TScopedRegion visibleRegion(CreateRectRgn(0, 0, 0, 0));
  TScopedRegion aboveRegion(CreateRectRgn(0, 0, 0, 0));
  TScopedRegion partRegion(CreateRectRgn(0, 0, 0, 0));
  const HRGN visible = visibleRegion.Get(), above = aboveRegion.Get(), part = partRegion.Get();
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
  return any ? visibleRegion.Release() : nullptr;
}

KXPtr<INVBitmap> CaptureScreen(bool appOnly) {
  TWindowDC screen(nullptr);
  if (!screen) return KXPtr<INVBitmap>();
  RECT area = CaptureArea(screen.Get());
  if (IsRectEmpty(&area)) return KXPtr<INVBitmap>();

  RECT box = area;
  TScopedRegion clip;
  if (appOnly) {
    RECT bounds;
    clip.Reset(VisibleRegionOfProcess(GetCurrentProcessId(), bounds));
    if (!clip) return KXPtr<INVBitmap>();
    if (!IntersectRect(&box, &bounds, &area)) return KXPtr<INVBitmap>();
    RECT extent;
    if (GetRgnBox(clip.Get(), &extent) == NULLREGION) return KXPtr<INVBitmap>();
  }

  KXPtr<INVBitmap> bitmap = CreateNVBitmap(box.right - box.left, box.bottom - box.top);
  if (!bitmap) return bitmap;
  HDC target = static_cast<HDC>(bitmap->DC());
  const int width = bitmap->Width(), height = bitmap->Height();
  bool copied;
  if (clip) {
    // White outside the program's visible window parts.
    std::memset(bitmap->Bits(), 0xFF, static_cast<size_t>(width) * static_cast<size_t>(height) * 4);
    OffsetRgn(clip.Get(), -box.left, -box.top);
    SelectClipRgn(target, clip.Get());
    copied = BitBlt(target, 0, 0, width, height, screen.Get(), box.left, box.top, SRCCOPY) != FALSE;
    SelectClipRgn(target, nullptr);
    clip.Reset();
  } else {
    copied = BitBlt(target, 0, 0, width, height, screen.Get(), box.left, box.top, SRCCOPY | CAPTUREBLT) != FALSE;
  }
  if (!copied) return KXPtr<INVBitmap>();
  DrawCursor(target, box);
  GdiFlush();
  return bitmap;
}

}  // namespace kestrix::imaging
