// Takes a screenshot as the library does at a crash and writes it three
// ways: the PNG, the BMP of the bitmap, and the pixels the PNG was meant to
// hold (RGB per pixel, rows from the top) for the tests to compare.
//   kx_capture <out.png> <out.bmp> <expected.rgb> [app-only] [colour mode]
// Prints the capture-to-PNG-file time in milliseconds.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "report_ui/imaging/inv_bitmap.h"
#include "report_ui/imaging/png_writer.h"
#include "report_ui/imaging/win/capture_win32.h"

using namespace kestrix::imaging;

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: kx_capture <out.png> <out.bmp> <expected.rgb> [app-only] [colour mode]\n");
    return 2;
  }
  const bool appOnly = argc > 4 && std::strcmp(argv[4], "1") == 0;
  const int mode = argc > 5 ? std::atoi(argv[5]) : cm256Colours;
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  kestrix::KXPtr<INVBitmap> shot = CaptureScreen(appOnly);
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
  std::printf("%d %d %.1f ms %zu bytes\n", shot->Width(), shot->Height(), ms, encoded.file.size());
  return 0;
}
