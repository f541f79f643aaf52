// The Windows surface of a bitmap: a 32-bit DIB section (rows bottom-up)
// selected into a memory drawing context; the context's previous bitmap is
// selected back before both are freed.
#include <windows.h>

#include "report_ui/imaging/inv_bitmap.h"

namespace kestrix::imaging {
namespace {

class TDibSurface final : public TBitmapSurface {
 public:
  TDibSurface(HDC dc, HBITMAP bitmap, HGDIOBJ previous, uint8_t* bits)
      : dc_(dc), bitmap_(bitmap), previous_(previous), bits_(bits) {}
  ~TDibSurface() override {
    SelectObject(dc_, previous_);
    DeleteObject(bitmap_);
    DeleteDC(dc_);
  }
  uint8_t* Bits() override { return bits_; }
  void* DC() override { return dc_; }
  bool Draw(void* dc, int x, int y, int width, int height) override {
    GdiFlush();
    return BitBlt(static_cast<HDC>(dc), x, y, width, height, dc_, 0, 0, SRCCOPY) != FALSE;
  }

 private:
  HDC dc_;
  HBITMAP bitmap_;
  HGDIOBJ previous_;
  uint8_t* bits_;
};

}  // namespace

std::unique_ptr<TBitmapSurface> CreateBitmapSurface(int width, int height) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  info.bmiHeader.biSizeImage = static_cast<DWORD>(width) * static_cast<DWORD>(height) * 4;
  HDC dc = CreateCompatibleDC(nullptr);
  if (!dc) return nullptr;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (!bitmap || !bits) {
    if (bitmap) DeleteObject(bitmap);
    DeleteDC(dc);
    return nullptr;
  }
  HGDIOBJ previous = SelectObject(dc, bitmap);
  std::unique_ptr<TBitmapSurface> surface(
      new (std::nothrow) TDibSurface(dc, bitmap, previous, static_cast<uint8_t*>(bits)));
  if (!surface) {
    SelectObject(dc, previous);
    DeleteObject(bitmap);
    DeleteDC(dc);
  }
  return surface;
}

}  // namespace kestrix::imaging
