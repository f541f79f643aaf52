// LoadBmpFile's reader on arbitrary bytes: it may refuse them, never read
// outside them; whatever it accepts must encode.
#include <cstddef>
#include <cstdint>
#include <string>

#include "report_ui/imaging/bmp_file.h"
#include "report_ui/imaging/inv_bitmap.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kestrix::imaging;
  TDecodedBmp decoded;
  std::string error;
  if (!DecodeBmp(data, size, decoded, error)) {
    if (error.empty()) __builtin_trap();
    return 0;
  }
  if (decoded.bits.size() != static_cast<size_t>(decoded.width) * static_cast<size_t>(decoded.height) * 4)
    __builtin_trap();
  // Small pictures go on through the bitmap object and its BMP image.
  if (decoded.bits.size() <= 4096 * 4) {
    kestrix::KXPtr<INVBitmap> bitmap = BitmapFromBmp(data, size, &error);
    if (!bitmap) __builtin_trap();
    const std::vector<uint8_t> again = bitmap->BmpImage();
    TDecodedBmp second;
    if (!DecodeBmp(again.data(), again.size(), second, error) || second.bits != decoded.bits) __builtin_trap();
  }
  return 0;
}
