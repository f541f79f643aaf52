// BMP writing and reading. The reader takes nothing in the file on trust:
// every offset and size is checked against the bytes there are.
#include "report_ui/imaging/bmp_file.h"

#include <cstring>

#include "crash/base/little_endian.h"

namespace kestrix::imaging {
namespace {

void PutLe16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void PutLe32(uint8_t* p, uint32_t v) {
  PutLe16(p, v);
  PutLe16(p + 2, v >> 16);
}

// One channel of a bit-field mask: where it starts and its largest value.
struct TChannel {
  uint32_t mask = 0;
  int shift = 0;
  uint32_t max = 0;
  explicit TChannel(uint32_t m) : mask(m) {
    if (!m) return;
    while (!((m >> shift) & 1)) ++shift;
    max = m >> shift;
  }
  uint8_t Of(uint32_t v) const {
    if (!max) return 0;
    return static_cast<uint8_t>((static_cast<uint64_t>((v & mask) >> shift) * 255 + max / 2) / max);
  }
};

bool Fail(std::string& error, const char* why) {
  error = why;
  return false;
}

}  // namespace

std::vector<uint8_t> BmpFileImage(const TPixelView& pixels) {
  const size_t imageSize = pixels.ByteSize();
  std::vector<uint8_t> file(54 + imageSize);
  uint8_t* h = file.data();
  h[0] = 'B';
  h[1] = 'M';
  PutLe32(h + 2, static_cast<uint32_t>(file.size()));
  PutLe32(h + 10, 54);
  PutLe32(h + 14, 40);
  PutLe32(h + 18, static_cast<uint32_t>(pixels.width));
  PutLe32(h + 22, static_cast<uint32_t>(pixels.height));
  PutLe16(h + 26, 1);
  PutLe16(h + 28, 32);
  PutLe32(h + 30, 0);
  PutLe32(h + 34, static_cast<uint32_t>(imageSize));
  if (imageSize) std::memcpy(h + 54, pixels.bits, imageSize);
  return file;
}

bool DecodeBmp(const uint8_t* data, size_t size, TDecodedBmp& out, std::string& error) {
  out = TDecodedBmp{};
  if (size < 14 + 12) return Fail(error, "too short for a BMP file");
  if (data[0] != 'B' || data[1] != 'M') return Fail(error, "not a BMP file (no \"BM\")");
  const uint32_t pixelOffset = Dword(data + 10);
  const uint32_t headerSize = Dword(data + 14);
  const bool core = headerSize == 12;
  if (!core && headerSize < 40) return Fail(error, "unknown info header");
  if (headerSize > size - 14) return Fail(error, "info header beyond the end of the file");
  const uint8_t* info = data + 14;

  int64_t width, height;
  unsigned bitCount;
  uint32_t compression = 0, coloursUsed = 0;
  if (core) {
    width = Word(info + 4);
    height = Word(info + 6);
    bitCount = Word(info + 10);
  } else {
    width = static_cast<int32_t>(Dword(info + 4));
    height = static_cast<int32_t>(Dword(info + 8));
    bitCount = Word(info + 14);
    compression = Dword(info + 16);
    coloursUsed = Dword(info + 32);
  }
  const bool topDown = height < 0;
  if (topDown) height = -height;
  if (width <= 0 || height <= 0) return Fail(error, "empty or negative size");
  if (static_cast<uint64_t>(width) * static_cast<uint64_t>(height) > kMaxPixels) return Fail(error, "picture too large");
  if (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 16 && bitCount != 24 && bitCount != 32)
    return Fail(error, "unsupported bits per pixel");
  constexpr uint32_t kRgb = 0, kBitFields = 3;
  if (compression != kRgb && compression != kBitFields) return Fail(error, "compressed BMP files are not supported");
  if (compression == kBitFields && bitCount != 16 && bitCount != 32)
    return Fail(error, "bit fields need 16 or 32 bits per pixel");

  // Masks: in the info header from version 4 on, else right after it.
  uint32_t masks[3] = {0, 0, 0};
  size_t afterHeader = 14 + headerSize;
  if (compression == kBitFields) {
    const uint8_t* m = info + 40;
    if (headerSize < 52) {
      if (afterHeader + 12 > size) return Fail(error, "bit-field masks beyond the end of the file");
      m = data + afterHeader;
      afterHeader += 12;
    }
    masks[0] = Dword(m);
    masks[1] = Dword(m + 4);
    masks[2] = Dword(m + 8);
  } else if (bitCount == 16) {
    masks[0] = 0x7C00, masks[1] = 0x03E0, masks[2] = 0x001F;
  } else if (bitCount == 32) {
    masks[0] = 0xFF0000, masks[1] = 0xFF00, masks[2] = 0xFF;
  }

  // The colour table of the indexed depths; an index past its end is black.
  uint8_t palette[256][3] = {};
  if (bitCount <= 8) {
    const uint32_t maximum = 1u << bitCount;
    const uint32_t entries = coloursUsed == 0 || coloursUsed > maximum ? maximum : coloursUsed;
    const size_t entrySize = core ? 3 : 4;
    if (afterHeader > size || entries * entrySize > size - afterHeader)
      return Fail(error, "colour table beyond the end of the file");
    for (uint32_t i = 0; i < entries; ++i) {
      const uint8_t* e = data + afterHeader + i * entrySize;
      palette[i][0] = e[0];
      palette[i][1] = e[1];
      palette[i][2] = e[2];
    }
  }

  const uint64_t stride = (static_cast<uint64_t>(width) * bitCount + 31) / 32 * 4;
  if (pixelOffset > size || stride * static_cast<uint64_t>(height) > size - pixelOffset)
    return Fail(error, "pixel data beyond the end of the file");

  out.width = static_cast<int>(width);
  out.height = static_cast<int>(height);
  out.bits.resize(static_cast<size_t>(width) * static_cast<size_t>(height) * 4);
  const TChannel red(masks[0]), green(masks[1]), blue(masks[2]);
  for (int64_t row = 0; row < height; ++row) {
    // Stored rows go bottom-up unless the height was negative.
    const int64_t target = topDown ? height - 1 - row : row;
    const uint8_t* in = data + pixelOffset + stride * static_cast<uint64_t>(row);
    uint8_t* o = out.bits.data() + static_cast<size_t>(target) * static_cast<size_t>(width) * 4;
    for (int64_t x = 0; x < width; ++x, o += 4) {
      switch (bitCount) {
        case 1:
        case 4:
        case 8: {
          const uint64_t bit = static_cast<uint64_t>(x) * bitCount;
          const unsigned byte = in[bit / 8];
          const unsigned index = (byte >> (8 - bitCount - bit % 8)) & ((1u << bitCount) - 1);
          o[0] = palette[index][0];
          o[1] = palette[index][1];
          o[2] = palette[index][2];
          break;
        }
        case 16:
        case 32: {
          const uint32_t v = bitCount == 16 ? Word(in + x * 2) : Dword(in + x * 4);
          o[0] = blue.Of(v);
          o[1] = green.Of(v);
          o[2] = red.Of(v);
          break;
        }
        case 24:
          o[0] = in[x * 3];
          o[1] = in[x * 3 + 1];
          o[2] = in[x * 3 + 2];
          break;
      }
      o[3] = 0;
    }
  }
  return true;
}

}  // namespace kestrix::imaging
