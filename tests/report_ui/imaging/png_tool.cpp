// Encodes a BMP file as the library does and writes beside the PNG what it
// meant to write: the palette colour of every pixel (RGB, rows from the
// top), for the tests that decode the PNG with other programs.
//   kx_png_tool <in.bmp> <colour mode> <out.png> <expected.rgb>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "report_ui/imaging/bmp_file.h"
#include "report_ui/imaging/inv_bitmap.h"
#include "report_ui/imaging/png_writer.h"

using namespace kestrix::imaging;

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: kx_png_tool <in.bmp> <colour mode> <out.png> <expected.rgb>\n");
    return 2;
  }
  std::string error;
  kestrix::KXPtr<INVBitmap> bitmap = LoadBmpFile(argv[1], &error);
  if (!bitmap) {
    std::fprintf(stderr, "%s: %s\n", argv[1], error.c_str());
    return 1;
  }
  const TPngEncoding encoded =
      EncodePng(TPixelView{bitmap->Width(), bitmap->Height(), bitmap->Bits()}, std::atoi(argv[2]));
  if (encoded.file.empty() || !WriteWholeFile(argv[3], encoded.file)) {
    std::fprintf(stderr, "cannot write %s\n", argv[3]);
    return 1;
  }
  std::vector<uint8_t> expected;
  expected.reserve(encoded.image.indices.size() * 3);
  for (uint8_t index : encoded.image.indices) {
    const TRgb& c = encoded.image.palette[index];
    expected.insert(expected.end(), {c.r, c.g, c.b});
  }
  if (!WriteWholeFile(argv[4], expected)) return 1;
  std::printf("%d %d depth %d entries %d bytes %zu\n", encoded.image.width, encoded.image.height,
              encoded.image.bitDepth, encoded.image.usedEntries, encoded.file.size());
  return 0;
}
