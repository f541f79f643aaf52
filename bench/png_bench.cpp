// The PNG encoder alone, natively: per BMP file the median time of the
// 256-colour encoding (quantiser and PNG writer apart), the PNG's size and
// the PSNR of the 256-colour image against the picture. One JSON line per
// file; bench/png_run compares the figures with Pillow's.
//   png_bench [--rounds N] [--out DIR] <file.bmp>...
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "report_ui/imaging/inv_bitmap.h"
#include "report_ui/imaging/png_writer.h"
#include "report_ui/imaging/wu_quantizer.h"

using namespace kestrix::imaging;
using Clock = std::chrono::steady_clock;

namespace {

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

double Psnr(const TPixelView& pixels, const TIndexedImage& image) {
  double sum = 0;
  size_t i = 0;
  for (int y = 0; y < pixels.height; ++y)
    for (int x = 0; x < pixels.width; ++x, ++i) {
      const uint8_t* p = pixels.At(x, y);
      const TRgb& c = image.palette[image.indices[i]];
      const double dr = p[2] - c.r, dg = p[1] - c.g, db = p[0] - c.b;
      sum += dr * dr + dg * dg + db * db;
    }
  const double mse = sum / (3.0 * static_cast<double>(i));
  return mse == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = 5;
  std::string out;
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--rounds") && i + 1 < argc) rounds = std::atoi(argv[++i]);
    else if (!std::strcmp(argv[i], "--out") && i + 1 < argc) out = argv[++i];
    else files.push_back(argv[i]);
  }
  for (const std::string& file : files) {
    std::string error;
    kestrix::KXPtr<INVBitmap> bitmap = LoadBmpFile(file, &error);
    if (!bitmap) {
      std::fprintf(stderr, "%s: %s\n", file.c_str(), error.c_str());
      return 1;
    }
    const TPixelView view{bitmap->Width(), bitmap->Height(), bitmap->Bits()};
    std::vector<double> quantise, write, total;
    TIndexedImage image;
    std::vector<uint8_t> png;
    for (int r = 0; r < rounds; ++r) {
      const auto t0 = Clock::now();
      image = QuantizeTo256(view);
      const auto t1 = Clock::now();
      png = WritePng(image);
      const auto t2 = Clock::now();
      quantise.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
      write.push_back(std::chrono::duration<double, std::milli>(t2 - t1).count());
      total.push_back(std::chrono::duration<double, std::milli>(t2 - t0).count());
    }
    std::string pngPath;
    if (!out.empty()) {
      pngPath = out + "/" + file.substr(file.find_last_of('/') + 1) + ".kx.png";
      WriteWholeFile(pngPath, png);
    }
    std::printf(
        "{\"file\": \"%s\", \"width\": %d, \"height\": %d, \"colours\": %d, \"psnr\": %.3f, \"bytes\": %zu, "
        "\"quantise_ms\": %.2f, \"write_ms\": %.2f, \"encode_ms\": %.2f, \"png\": \"%s\"}\n",
        file.c_str(), view.width, view.height, image.usedEntries, Psnr(view, image), png.size(), Median(quantise),
        Median(write), Median(total), pngPath.c_str());
  }
  return 0;
}
