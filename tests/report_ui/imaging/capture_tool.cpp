// Takes a screenshot as the library does at a crash and writes it three
// ways: the PNG, the BMP of the bitmap, and the pixels the PNG was meant to
// hold (RGB per pixel, rows from the top) for the tests to compare.
//   kx_capture <out.png> <out.bmp> <expected.rgb> [app-only] [colour mode] [gradients]
// With "gradients" it first shows a window of its own full of colour
// gradients over most of the screen. Prints the size, the capture-to-PNG-
// file time in milliseconds and the PNG's size.
//   kx_capture --wait-for <seconds> <window class>...
// waits until a shown window of each class is there and its program idle
// (exit code 0; 1 when one did not come in time).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "report_ui/imaging/inv_bitmap.h"
#include "report_ui/imaging/png_writer.h"
#include "report_ui/imaging/win/capture_win32.h"
#include "tests/helpers/wait.h"
#include "tests/helpers/win/bitmaps.h"
#include "tests/helpers/win/window_search.h"

using namespace kestrix::imaging;

namespace {

// Smooth ramps in each quarter: red/green, green/blue, a grey ramp, and
// blue/red rings.
LRESULT CALLBACK GradientProc(HWND w, UINT message, WPARAM wp, LPARAM lp) {
  if (message != WM_PAINT) return DefWindowProcA(w, message, wp, lp);
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(w, &ps);
  RECT r;
  GetClientRect(w, &r);
  const int width = r.right, height = r.bottom;
  BITMAPINFO info = testhelpers::TopDownBitmapInfo(width, height);
  std::vector<uint32_t> px(static_cast<size_t>(width) * height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const int u = x * 255 / (width / 2 ? width / 2 : 1) % 256, v = y * 255 / (height / 2 ? height / 2 : 1) % 256;
      uint32_t c;
      if (x < width / 2 && y < height / 2) c = RGB(u, v, 60);
      else if (y < height / 2) c = RGB(40, u, v);
      else if (x < width / 2) c = RGB(u, u, u);
      else {
        const int d = ((x - width * 3 / 4) * (x - width * 3 / 4) + (y - height * 3 / 4) * (y - height * 3 / 4)) / 64;
        c = RGB(d & 255, 128, 255 - (d & 255));
      }
      px[static_cast<size_t>(y) * width + x] = (GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c);
    }
  SetDIBitsToDevice(dc, 0, 0, width, height, 0, 0, 0, height, px.data(), &info, DIB_RGB_COLORS);
  EndPaint(w, &ps);
  return 0;
}

void ShowGradients() {
  WNDCLASSA c{};
  c.lpfnWndProc = GradientProc;
  c.hInstance = GetModuleHandleA(nullptr);
  c.lpszClassName = "KxGradients";
  RegisterClassA(&c);
  const int w = GetSystemMetrics(SM_CXSCREEN), h = GetSystemMetrics(SM_CYSCREEN);
  HWND window = CreateWindowExA(WS_EX_TOPMOST, "KxGradients", "gradients", WS_POPUP | WS_VISIBLE | WS_BORDER,
                                w / 16, h / 16, w * 7 / 8, h * 7 / 8, nullptr, nullptr, c.hInstance, nullptr);
  UpdateWindow(window);
  // Shown once the screen has the window's middle pixel.
  RECT r;
  GetClientRect(window, &r);
  POINT middle{r.right / 2, r.bottom / 2};
  HDC own = GetDC(window);
  const COLORREF painted = GetPixel(own, middle.x, middle.y);
  ReleaseDC(window, own);
  ClientToScreen(window, &middle);
  testhelpers::WaitUntil(
      [&] {
        MSG m;
        while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&m);
        HDC screen = GetDC(nullptr);
        const COLORREF seen = GetPixel(screen, middle.x, middle.y);
        ReleaseDC(nullptr, screen);
        return seen == painted;
      },
      5000, 10);
}

// Waits for a shown window of each class, then for its program to be idle.
int WaitForWindows(int seconds, char** classes, int count) {
  for (int i = 0; i < count; ++i) {
    HWND found = nullptr;
    const bool shown = testhelpers::WaitUntil(
        [&] {
          found = testhelpers::FindTopWindow(
              [&](HWND w) { return IsWindowVisible(w) && testhelpers::WindowClass(w) == classes[i]; });
          return found != nullptr;
        },
        seconds * 1000, 50);
    if (!shown) {
      std::fprintf(stderr, "no window of class %s\n", classes[i]);
      return 1;
    }
    if (HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE,
                                     testhelpers::WindowProcessId(found))) {
      WaitForInputIdle(process, static_cast<DWORD>(seconds) * 1000);
      CloseHandle(process);
    }
    testhelpers::PaintNow(found);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 2 && std::strcmp(argv[1], "--wait-for") == 0) return WaitForWindows(std::atoi(argv[2]), argv + 3, argc - 3);
  if (argc < 4) {
    std::fprintf(stderr, "usage: kx_capture <out.png> <out.bmp> <expected.rgb> [app-only] [colour mode]\n");
    return 2;
  }
  const bool appOnly = argc > 4 && std::strcmp(argv[4], "1") == 0;
  const int mode = argc > 5 ? std::atoi(argv[5]) : cm256Colours;
  if (argc > 6 && std::strcmp(argv[6], "gradients") == 0) ShowGradients();
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  kestrix::KXPtr<INVBitmap> shot = CaptureScreen(appOnly);
  LARGE_INTEGER captured;
  QueryPerformanceCounter(&captured);
  if (!shot) {
    std::fprintf(stderr, "no screenshot\n");
    return 1;
  }
  const bool saved = shot->SavePng(argv[1], mode);
  QueryPerformanceCounter(&end);
  if (!saved) return 1;
  const double ms = 1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
  if (!shot->SaveBmp(argv[2])) return 1;
  const TPngEncoding encoded = EncodePng(TPixelView{shot->Width(), shot->Height(), shot->Bits()}, mode);
  std::vector<uint8_t> expected;
  for (uint8_t index : encoded.image.indices) {
    const TRgb& c = encoded.image.palette[index];
    expected.insert(expected.end(), {c.r, c.g, c.b});
  }
  if (!WriteWholeFile(argv[3], expected)) return 1;
  const double captureMs =
      1000.0 * static_cast<double>(captured.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
  std::printf("%d %d %.1f ms %zu bytes, capture %.1f ms\n", shot->Width(), shot->Height(), ms, encoded.file.size(),
              captureMs);
  return 0;
}
