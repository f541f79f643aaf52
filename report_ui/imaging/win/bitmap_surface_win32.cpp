// The Windows surface of a bitmap: a 32-bit DIB section (rows bottom-up)
// selected into a memory drawing context; the context's previous bitmap is
// selected back before both are freed.
#include <windows.h>

#include <utility>

#include "crash/base/win/scoped_gdi.h"
#include "report_ui/imaging/inv_bitmap.h"

namespace kestrix::imaging {
namespace {

class TDibSurface final : public TBitmapSurface {
 public:
  TDibSurface(TScopedMemoryDC dc, TScopedBitmap bitmap, HGDIOBJ previous, uint8_t* bits)
      : dc_(std::move(dc)), bitmap_(std::move(bitmap)), previous_(previous), bits_(bits) {}
  // The bitmap goes next, then the context (members in reverse order).
  ~TDibSurface() override { SelectObject(dc_.Get(), previous_); }
  uint8_t* Bits() override { return bits_; }
  void* DC() override { return dc_.Get(); }
  bool Draw(void* dc, int x, int y, int width, int height) override {
    GdiFlush();
    return BitBlt(static_cast<HDC>(dc), x, y, width, height, dc_.Get(), 0, 0, SRCCOPY) != FALSE;
  }

 private:
  TScopedMemoryDC dc_;
  TScopedBitmap bitmap_;
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
  TScopedMemoryDC dc(CreateCompatibleDC(nullptr));
  if (!dc) return nullptr;
  void* bits = nullptr;
  TScopedBitmap bitmap(CreateDIBSection(dc.Get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  if (!bitmap || !bits) return nullptr;
  const HGDIOBJ previous = SelectObject(dc.Get(), bitmap.Get());
  // When the allocation fails the arguments are not evaluated: the context
  // and the bitmap stay here and are freed on the way out.
  std::unique_ptr<TBitmapSurface> surface(
      new (std::nothrow) TDibSurface(std::move(dc), std::move(bitmap), previous, static_cast<uint8_t*>(bits)));
  if (!surface) SelectObject(dc.Get(), previous);
  return surface;
}

}  // namespace kestrix::imaging
