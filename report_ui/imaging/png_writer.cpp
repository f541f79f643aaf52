// PNG chunks and the zlib stream. Deflate is zlib's (raw, best compression);
// the zlib header, the Adler-32 trailer and the chunks' CRC-32 are ours.
#include "report_ui/imaging/png_writer.h"

#include <zlib.h>

#include "crash/base/crc32.h"

#include <array>
#include <cstdlib>

namespace kestrix::imaging {
namespace {

void PutBig32(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v >> 24));
  out.push_back(static_cast<uint8_t>(v >> 16));
  out.push_back(static_cast<uint8_t>(v >> 8));
  out.push_back(static_cast<uint8_t>(v));
}

void PutChunk(std::vector<uint8_t>& out, const char type[4], const uint8_t* data, size_t size) {
  PutBig32(out, static_cast<uint32_t>(size));
  const size_t start = out.size();
  out.insert(out.end(), type, type + 4);
  if (size) out.insert(out.end(), data, data + size);
  PutBig32(out, Crc32(out.data() + start, out.size() - start));
}

// The rows as PNG wants them: filter byte 0, then the pixels packed to the
// bit depth (4 bits: the first pixel in the high half).
std::vector<uint8_t> RawRows(const TIndexedImage& image) {
  const size_t w = static_cast<size_t>(image.width);
  const size_t rowBytes = image.bitDepth == 4 ? (w + 1) / 2 : w;
  std::vector<uint8_t> raw((rowBytes + 1) * static_cast<size_t>(image.height));
  uint8_t* out = raw.data();
  const uint8_t* in = image.indices.data();
  for (int y = 0; y < image.height; ++y) {
    *out++ = 0;
    if (image.bitDepth == 4) {
      for (size_t x = 0; x < w; x += 2) {
        const uint8_t high = static_cast<uint8_t>(in[x] << 4);
        *out++ = static_cast<uint8_t>(high | (x + 1 < w ? in[x + 1] & 0x0F : 0));
      }
    } else {
      std::copy(in, in + w, out);
      out += w;
    }
    in += w;
  }
  return raw;
}

// RFC 1950: header 78 01, raw deflate data, Adler-32 of the input.
bool ZlibStream(const std::vector<uint8_t>& raw, std::vector<uint8_t>& out) {
  z_stream z{};
  if (deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY) != Z_OK) return false;
  // Level 9 with half its longest match chain: on screenshots within 1 % of
  // the full level's size, a good part faster.
  deflateTune(&z, 32, 258, 258, 2048);
  const size_t bound = deflateBound(&z, static_cast<uLong>(raw.size()));
  out.assign(2 + bound + 4, 0);
  out[0] = 0x78;
  out[1] = 0x01;
  z.next_in = const_cast<Bytef*>(raw.data());
  z.avail_in = static_cast<uInt>(raw.size());
  z.next_out = out.data() + 2;
  z.avail_out = static_cast<uInt>(bound);
  const int result = deflate(&z, Z_FINISH);
  const size_t produced = z.total_out;
  deflateEnd(&z);
  if (result != Z_STREAM_END) return false;
  out.resize(2 + produced);
  PutBig32(out, Adler32(raw.data(), raw.size()));
  return true;
}

}  // namespace

uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc) { return ~Crc32Update(~crc, data, size); }

uint32_t Adler32(const uint8_t* data, size_t size, uint32_t adler) {
  constexpr uint32_t kBase = 65521;
  // 5552 bytes is the most that can be summed before the 32-bit sums must
  // be reduced.
  constexpr size_t kBlock = 5552;
  uint32_t a = adler & 0xFFFF, b = adler >> 16;
  while (size) {
    const size_t n = size < kBlock ? size : kBlock;
    for (size_t i = 0; i < n; ++i) {
      a += data[i];
      b += a;
    }
    a %= kBase;
    b %= kBase;
    data += n;
    size -= n;
  }
  return (b << 16) | a;
}

const uint8_t kGreyLevels[16] = {0, 28, 52, 73, 92, 109, 125, 140, 155, 170, 185, 199, 213, 227, 241, 255};

TIndexedImage GreyTo16(const TPixelView& pixels) {
  TIndexedImage image;
  image.width = pixels.width;
  image.height = pixels.height;
  image.bitDepth = 4;
  image.usedEntries = 16;
  for (uint8_t level : kGreyLevels) image.palette.push_back(TRgb{level, level, level});
  std::array<uint8_t, 256> nearest{};
  for (int grey = 0; grey < 256; ++grey) {
    int best = 0;
    for (int i = 1; i < 16; ++i)
      if (std::abs(kGreyLevels[i] - grey) < std::abs(kGreyLevels[best] - grey)) best = i;
    nearest[grey] = static_cast<uint8_t>(best);
  }
  if (pixels.width <= 0 || pixels.height <= 0) return image;
  image.indices.resize(static_cast<size_t>(pixels.width) * static_cast<size_t>(pixels.height));
  uint8_t* out = image.indices.data();
  for (int y = 0; y < pixels.height; ++y) {
    const uint8_t* p = pixels.At(0, y);
    for (int x = 0; x < pixels.width; ++x, p += 4) *out++ = nearest[GreyOf(p[2], p[1], p[0])];
  }
  return image;
}

std::vector<uint8_t> WritePng(const TIndexedImage& image) {
  std::vector<uint8_t> file;
  if (image.width <= 0 || image.height <= 0 ||
      image.indices.size() != static_cast<size_t>(image.width) * static_cast<size_t>(image.height))
    return file;
  std::vector<uint8_t> idat;
  if (!ZlibStream(RawRows(image), idat)) return file;

  static const uint8_t kSignature[8] = {137, 'P', 'N', 'G', 13, 10, 26, 10};
  file.assign(kSignature, kSignature + 8);
  std::vector<uint8_t> header;
  PutBig32(header, static_cast<uint32_t>(image.width));
  PutBig32(header, static_cast<uint32_t>(image.height));
  header.insert(header.end(), {static_cast<uint8_t>(image.bitDepth), 3, 0, 0, 0});
  PutChunk(file, "IHDR", header.data(), header.size());
  std::vector<uint8_t> palette;
  for (const TRgb& c : image.palette) palette.insert(palette.end(), {c.r, c.g, c.b});
  PutChunk(file, "PLTE", palette.data(), palette.size());
  PutChunk(file, "IDAT", idat.data(), idat.size());
  PutChunk(file, "IEND", nullptr, 0);
  return file;
}

size_t ModeByteLimit(int mode) {
  switch (mode) {
    case cmLimit50K: return 51200;
    case cmLimit100K: return 102400;
    case cmLimit200K: return 204800;
    case cmLimit300K: return 307200;
    default: return 0;
  }
}

int ColourModeForDepth(int32_t depth) {
  switch (depth) {
    case 4: return cmGrey16;
    case 51200: return cmLimit50K;
    case 102400: return cmLimit100K;
    case 204800: return cmLimit200K;
    case 307200: return cmLimit300K;
    default: return cm256Colours;
  }
}

bool GreyFileWanted(int mode, size_t colourBytes) {
  const size_t limit = ModeByteLimit(mode);
  return mode == cmGrey16 || colourBytes == 0 || (limit && colourBytes > limit);
}

TPngEncoding EncodePng(const TPixelView& pixels, int mode) {
  TPngEncoding result;
  if (pixels.width <= 0 || pixels.height <= 0 || !pixels.bits) return result;
  if (mode < cm256Colours || mode > cmLimit300K) mode = cm256Colours;
  if (mode != cmGrey16) {
    result.image = QuantizeTo256(pixels);
    result.file = WritePng(result.image);
  }
  if (GreyFileWanted(mode, result.file.size())) {
    TIndexedImage grey = GreyTo16(pixels);
    std::vector<uint8_t> file = WritePng(grey);
    if (!file.empty() && GreyFileWins(result.file.size(), file.size())) {
      result.file = std::move(file);
      result.image = std::move(grey);
    }
  }
  return result;
}

}  // namespace kestrix::imaging
