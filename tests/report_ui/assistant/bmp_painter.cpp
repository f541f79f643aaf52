// A picture editor for the screenshot page's tests, started by the shell's
// "edit" verb: paints a 200 x 200 magenta block into the top left corner of
// an uncompressed 24- or 32-bit BMP file and saves it in place.
//   bmp_painter FILE
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

int32_t Read32(const std::vector<uint8_t>& b, size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | b[at + i];
  return static_cast<int32_t>(v);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  FILE* f = fopen(argv[1], "rb");
  if (!f) return 3;
  std::vector<uint8_t> bytes;
  uint8_t chunk[65536];
  for (size_t n; (n = fread(chunk, 1, sizeof chunk, f)) > 0;) bytes.insert(bytes.end(), chunk, chunk + n);
  fclose(f);
  if (bytes.size() < 54 || bytes[0] != 'B' || bytes[1] != 'M') return 4;
  const int32_t offset = Read32(bytes, 10), width = Read32(bytes, 18), height = Read32(bytes, 22);
  const int bpp = bytes[28] | (bytes[29] << 8);
  if ((bpp != 24 && bpp != 32) || Read32(bytes, 30) != 0 || width <= 0 || height == 0) return 5;
  const int rows = height < 0 ? -height : height;
  const size_t stride = (static_cast<size_t>(width) * (bpp / 8) + 3) & ~size_t{3};
  if (static_cast<size_t>(offset) + stride * rows > bytes.size()) return 6;
  for (int y = 0; y < 200 && y < rows; ++y) {
    const int row = height > 0 ? rows - 1 - y : y;  // bottom-up unless the height is negative
    uint8_t* p = bytes.data() + offset + stride * row;
    for (int x = 0; x < 200 && x < width; ++x, p += bpp / 8) {
      p[0] = 255;  // blue
      p[1] = 0;
      p[2] = 255;  // red
    }
  }
  f = fopen(argv[1], "wb");
  if (!f) return 7;
  const bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return fclose(f) == 0 && ok ? 0 : 8;
}
