// The portable imaging code: checksums against zlib's, the quantiser, the
// grey image, the colour modes, the PNG layout, BMP files, the zoom.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <set>

#include "report_ui/imaging/bmp_file.h"
#include "report_ui/imaging/inv_bitmap.h"
#include "report_ui/imaging/mitchell_zoom.h"
#include "report_ui/imaging/png_writer.h"
#include "report_ui/imaging/wu_quantizer.h"

namespace kestrix::imaging {
namespace {

// A picture in memory; Set takes y from the top.
struct TPicture {
  int width, height;
  std::vector<uint8_t> bits;
  TPicture(int w, int h) : width(w), height(h), bits(static_cast<size_t>(w) * h * 4) {}
  void Set(int x, int y, uint8_t r, uint8_t g, uint8_t b) {
    uint8_t* p = &bits[(static_cast<size_t>(height - 1 - y) * width + x) * 4];
    p[0] = b, p[1] = g, p[2] = r;
  }
  TPixelView View() const { return {width, height, bits.data()}; }
};

TPicture Noise(int w, int h, unsigned seed) {
  TPicture p(w, h);
  std::mt19937 random(seed);
  for (auto& b : p.bits) b = static_cast<uint8_t>(random());
  return p;
}

uint32_t Big32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

// The chunks of a PNG file (type, data), each CRC checked.
std::vector<std::pair<std::string, std::vector<uint8_t>>> Chunks(const std::vector<uint8_t>& png) {
  std::vector<std::pair<std::string, std::vector<uint8_t>>> chunks;
  size_t at = 8;
  while (at + 12 <= png.size()) {
    const uint32_t length = Big32(&png[at]);
    EXPECT_LE(at + 12 + length, png.size());
    const uint32_t crc = ::crc32(0, &png[at + 4], 4 + length);
    EXPECT_EQ(Big32(&png[at + 8 + length]), crc);
    chunks.emplace_back(std::string(png.begin() + at + 4, png.begin() + at + 8),
                        std::vector<uint8_t>(png.begin() + at + 8, png.begin() + at + 8 + length));
    at += 12 + length;
  }
  EXPECT_EQ(at, png.size());
  return chunks;
}

// The rows inside a PNG's IDAT, inflated by zlib.
std::vector<uint8_t> InflatedRows(const std::vector<uint8_t>& png, size_t expected) {
  for (auto& [type, data] : Chunks(png)) {
    if (type != "IDAT") continue;
    std::vector<uint8_t> rows(expected + 1);
    uLongf size = static_cast<uLongf>(rows.size());
    EXPECT_EQ(::uncompress(rows.data(), &size, data.data(), static_cast<uLong>(data.size())), Z_OK);
    rows.resize(size);
    return rows;
  }
  ADD_FAILURE() << "no IDAT";
  return {};
}

TEST(Checksums, AgreeWithZlibOnAnyLengthAndWhenContinued) {
  std::mt19937 random(7);
  for (size_t length : {0u, 1u, 5551u, 5552u, 5553u, 100000u}) {
    std::vector<uint8_t> data(length);
    for (auto& b : data) b = static_cast<uint8_t>(random() | 0x80);  // large bytes stress the sums
    EXPECT_EQ(Crc32(data.data(), length), ::crc32(0, data.data(), static_cast<uInt>(length))) << length;
    EXPECT_EQ(Adler32(data.data(), length), ::adler32(1, data.data(), static_cast<uInt>(length))) << length;
    const size_t half = length / 2;
    EXPECT_EQ(Adler32(data.data() + half, length - half, Adler32(data.data(), half)),
              ::adler32(1, data.data(), static_cast<uInt>(length)));
    EXPECT_EQ(Crc32(data.data() + half, length - half, Crc32(data.data(), half)),
              ::crc32(0, data.data(), static_cast<uInt>(length)));
  }
}

TEST(WuQuantizer, OneColourGivesOneEntryAndIndexZero) {
  TPicture p(7, 3);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 7; ++x) p.Set(x, y, 200, 30, 90);
  const TIndexedImage image = QuantizeTo256(p.View());
  EXPECT_EQ(image.usedEntries, 1);
  ASSERT_EQ(image.palette.size(), 256u);
  EXPECT_EQ(image.palette[0], (TRgb{200, 30, 90}));
  EXPECT_EQ(std::set<uint8_t>(image.indices.begin(), image.indices.end()), std::set<uint8_t>{0});
}

TEST(WuQuantizer, FewColoursAreKeptExactlyAndManyBecome256) {
  // Eight colours in distinct 5-bit cells come back exactly.
  TPicture few(8, 2);
  const TRgb colours[8] = {{0, 0, 0}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255},
                           {255, 255, 0}, {0, 255, 255}, {255, 0, 255}, {255, 255, 255}};
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 8; ++x) few.Set(x, y, colours[x].r, colours[x].g, colours[x].b);
  TIndexedImage image = QuantizeTo256(few.View());
  EXPECT_EQ(image.usedEntries, 8);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 8; ++x) EXPECT_EQ(image.palette[image.indices[y * 8 + x]], colours[x]) << x;

  // 257 colours in distinct cells: 256 entries, every pixel on its nearest.
  TPicture many(257, 1);
  for (int i = 0; i < 257; ++i) many.Set(i, 0, static_cast<uint8_t>((i % 8) * 32), static_cast<uint8_t>((i / 8 % 8) * 32),
                                          static_cast<uint8_t>((i / 64) * 32));
  image = QuantizeTo256(many.View());
  EXPECT_EQ(image.usedEntries, 256);
  for (int i = 0; i < 257; ++i) {
    const uint8_t* p = many.View().At(i, 0);
    const TRgb centre{static_cast<uint8_t>((p[2] & 0xF8) | 4), static_cast<uint8_t>((p[1] & 0xF8) | 4),
                      static_cast<uint8_t>((p[0] & 0xF8) | 4)};
    EXPECT_EQ(image.indices[i], NearestEntry(image.palette, 256, centre));
  }
}

TEST(WuQuantizer, UpTo256ColoursAreExactEvenInOneCell) {
  // 256 greys share 32 cells of the 5-bit histogram, yet each keeps its
  // own entry; one colour more and the quantiser takes over.
  TPicture greys(256, 2);
  for (int x = 0; x < 256; ++x) {
    greys.Set(x, 0, static_cast<uint8_t>(x), static_cast<uint8_t>(x), static_cast<uint8_t>(x));
    greys.Set(255 - x, 1, static_cast<uint8_t>(x), static_cast<uint8_t>(x), static_cast<uint8_t>(x));
  }
  TIndexedImage image = QuantizeTo256(greys.View());
  EXPECT_EQ(image.usedEntries, 256);
  for (int x = 0; x < 256; ++x) {
    EXPECT_EQ(image.palette[image.indices[x]], (TRgb{uint8_t(x), uint8_t(x), uint8_t(x)}));
    EXPECT_EQ(image.indices[256 + 255 - x], image.indices[x]);
  }
  greys.Set(0, 1, 0, 0, 9);
  image = QuantizeTo256(greys.View());
  EXPECT_LE(image.usedEntries, 33);  // Wu: at most one entry per occupied cell
}

TEST(WuQuantizer, PaletteEntriesAreMeansOfTheirPixels) {
  // Two clusters far apart: two entries, each the (truncated) mean.
  TPicture p(4, 1);
  p.Set(0, 0, 10, 10, 10);
  p.Set(1, 0, 13, 12, 11);
  p.Set(2, 0, 240, 200, 100);
  p.Set(3, 0, 241, 201, 101);
  const std::vector<TRgb> palette = WuPalette(p.View(), 2);
  ASSERT_EQ(palette.size(), 2u);
  std::set<std::tuple<int, int, int>> got;
  for (auto c : palette) got.insert({c.r, c.g, c.b});
  EXPECT_EQ(got, (std::set<std::tuple<int, int, int>>{{11, 11, 10}, {240, 200, 100}}));
}

TEST(GreyImage, LevelsPackingAndTheBitmapLeftAlone) {
  // Three pixels wide: a row is the filter byte and two bytes, the last low
  // nibble 0.
  TPicture p(3, 2);
  p.Set(0, 0, 255, 255, 255);
  p.Set(1, 0, 0, 0, 0);
  p.Set(2, 0, 128, 128, 128);  // grey 127 is nearest to 125, level 6
  p.Set(0, 1, 255, 0, 0);      // grey 76: level 3 (73)
  const std::vector<uint8_t> before = p.bits;
  const TIndexedImage grey = GreyTo16(p.View());
  EXPECT_EQ(p.bits, before);
  EXPECT_EQ(grey.indices, (std::vector<uint8_t>{15, 0, 6, 3, 0, 0}));
  const std::vector<uint8_t> png = WritePng(grey);
  EXPECT_EQ(InflatedRows(png, 6), (std::vector<uint8_t>{0, 0xF0, 0x60, 0, 0x30, 0x00}));
  for (auto& [type, data] : Chunks(png)) {
    if (type == "IHDR") EXPECT_EQ(data[8], 4);  // bit depth
    if (type == "PLTE") {
      ASSERT_EQ(data.size(), 48u);
      for (int i = 0; i < 16; ++i) EXPECT_EQ(data[i * 3 + 1], kGreyLevels[i]);
    }
  }
  // Ties go to the darker level: 90.5 lies between 89 and 92 no tie, but
  // 40 lies exactly between 28 and 52.
  TPicture tie(1, 1);
  tie.Set(0, 0, 40, 40, 40);  // grey (40 * 256) / 256 = 40
  EXPECT_EQ(GreyTo16(tie.View()).indices[0], 1);
}

TEST(PngLayout, SignatureChunksZlibFramingAndRows) {
  TPicture p(5, 3);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x) p.Set(x, y, static_cast<uint8_t>(x * 60), static_cast<uint8_t>(y * 100), 7);
  const TPngEncoding encoded = EncodePng(p.View(), cm256Colours);
  const std::vector<uint8_t>& png = encoded.file;
  ASSERT_GT(png.size(), 8u);
  EXPECT_EQ(std::vector<uint8_t>(png.begin(), png.begin() + 8), (std::vector<uint8_t>{137, 'P', 'N', 'G', 13, 10, 26, 10}));
  const auto chunks = Chunks(png);
  ASSERT_EQ(chunks.size(), 4u);
  EXPECT_EQ(chunks[0].first, "IHDR");
  EXPECT_EQ(chunks[0].second, (std::vector<uint8_t>{0, 0, 0, 5, 0, 0, 0, 3, 8, 3, 0, 0, 0}));
  EXPECT_EQ(chunks[1].first, "PLTE");
  EXPECT_EQ(chunks[1].second.size(), 768u);
  EXPECT_EQ(chunks[2].first, "IDAT");
  EXPECT_EQ(chunks[2].second[0], 0x78);
  EXPECT_EQ(chunks[2].second[1], 0x01);
  EXPECT_EQ((0x78 * 256 + 0x01) % 31, 0);
  EXPECT_EQ(chunks[3], (std::pair<std::string, std::vector<uint8_t>>{"IEND", {}}));
  const std::vector<uint8_t> rows = InflatedRows(png, 18);
  ASSERT_EQ(rows.size(), 18u);
  for (int y = 0; y < 3; ++y) {
    EXPECT_EQ(rows[y * 6], 0);
    for (int x = 0; x < 5; ++x) EXPECT_EQ(rows[y * 6 + 1 + x], encoded.image.indices[y * 5 + x]);
  }
  // The top row first: pixel (0, 0) is black.
  EXPECT_EQ(encoded.image.palette[rows[1]], (TRgb{0, 0, 7}));
  // The Adler-32 of the rows closes the stream.
  const auto& idat = chunks[2].second;
  EXPECT_EQ(Big32(&idat[idat.size() - 4]), ::adler32(1, rows.data(), static_cast<uInt>(rows.size())));
}

TEST(ColourModes, DepthsMapToModes) {
  EXPECT_EQ(ColourModeForDepth(8), cm256Colours);
  EXPECT_EQ(ColourModeForDepth(4), cmGrey16);
  EXPECT_EQ(ColourModeForDepth(51200), cmLimit50K);
  EXPECT_EQ(ColourModeForDepth(102400), cmLimit100K);
  EXPECT_EQ(ColourModeForDepth(204800), cmLimit200K);
  EXPECT_EQ(ColourModeForDepth(307200), cmLimit300K);
  EXPECT_EQ(ColourModeForDepth(24), cm256Colours);
}

TEST(ColourModes, TheLimitChoosesTheSmallerGreyFileOnlyWhenExceeded) {
  // Noise: the 256-colour file is far larger than the grey one.
  const TPicture noise = Noise(400, 400, 3);
  const TPngEncoding colour = EncodePng(noise.View(), cm256Colours);
  const TPngEncoding grey = EncodePng(noise.View(), cmGrey16);
  ASSERT_GT(colour.file.size(), 102400u);
  ASSERT_LT(grey.file.size(), colour.file.size());
  EXPECT_EQ(grey.image.bitDepth, 4);
  EXPECT_EQ(EncodePng(noise.View(), cmLimit50K).file, grey.file);
  EXPECT_EQ(EncodePng(noise.View(), 77).file, colour.file);  // unknown: 256 colours

  // Under the limit the 256-colour file stays, however small the grey one.
  TPicture few(300, 200);
  for (int y = 0; y < 200; ++y)
    for (int x = 0; x < 300; ++x) few.Set(x, y, static_cast<uint8_t>(x / 30 * 25), 40, static_cast<uint8_t>(y));
  const TPngEncoding small = EncodePng(few.View(), cmLimit300K);
  EXPECT_LT(small.file.size(), 307200u);
  EXPECT_EQ(small.image.bitDepth, 8);

  EXPECT_EQ(EncodePng(noise.View(), cmLimit100K).file, grey.file);
  EXPECT_EQ(EncodePng(noise.View(), cmLimit300K).file, colour.file);  // under 300K
}

TEST(ColourModes, TheGreyFileOnlyOverTheLimitAndOnlyWhenSmaller) {
  EXPECT_TRUE(GreyFileWanted(cmLimit50K, 60000));
  EXPECT_TRUE(GreyFileWins(60000, 40000));
  EXPECT_FALSE(GreyFileWins(60000, 70000));
  EXPECT_FALSE(GreyFileWanted(cmLimit50K, 51200));
  EXPECT_TRUE(GreyFileWanted(cmLimit50K, 51201));
  EXPECT_FALSE(GreyFileWanted(cmLimit100K, 60000));
  EXPECT_TRUE(GreyFileWanted(cmLimit300K, 307201));
  EXPECT_FALSE(GreyFileWanted(cm256Colours, 10000000));
  EXPECT_TRUE(GreyFileWanted(cmGrey16, 0));
  EXPECT_TRUE(GreyFileWanted(cm256Colours, 0));  // no colour file: grey
  EXPECT_TRUE(GreyFileWins(0, 123));
}

TEST(ColourModes, EmptyPicturesGiveNoFile) {
  EXPECT_TRUE(EncodePng(TPixelView{}, cm256Colours).file.empty());
  EXPECT_TRUE(EncodePng(TPixelView{0, 5, nullptr}, cmGrey16).file.empty());
}

TEST(BmpFiles, TheImageRoundTripsThroughTheReader) {
  const TPicture p = Noise(13, 5, 9);
  const std::vector<uint8_t> file = BmpFileImage(p.View());
  ASSERT_EQ(file.size(), 54u + 13 * 5 * 4);
  EXPECT_EQ(file[0], 'B');
  EXPECT_EQ(file[28], 32);
  TDecodedBmp decoded;
  std::string error;
  ASSERT_TRUE(DecodeBmp(file.data(), file.size(), decoded, error)) << error;
  EXPECT_EQ(decoded.width, 13);
  EXPECT_EQ(decoded.height, 5);
  for (size_t i = 0; i < p.bits.size(); i += 4)
    EXPECT_EQ(std::memcmp(&decoded.bits[i], &p.bits[i], 3), 0) << i;
}

// A hand-made BMP: 24 bits, or 8 bits with a colour table; rows padded.
std::vector<uint8_t> HandMadeBmp(int width, int height, int bits, const std::vector<uint8_t>& rowsBottomUp,
                                 int paletteEntries = 0) {
  std::vector<uint8_t> f(54 + paletteEntries * 4);
  f[0] = 'B', f[1] = 'M';
  const uint32_t offset = static_cast<uint32_t>(f.size());
  auto put32 = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) f[at + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  put32(10, offset);
  put32(14, 40);
  put32(18, static_cast<uint32_t>(width));
  put32(22, static_cast<uint32_t>(height));
  put32(46, static_cast<uint32_t>(paletteEntries));
  f[26] = 1;
  f[28] = static_cast<uint8_t>(bits);
  for (int i = 0; i < paletteEntries; ++i) f[54 + i * 4] = static_cast<uint8_t>(i * 10);  // blue = 10 i
  f.insert(f.end(), rowsBottomUp.begin(), rowsBottomUp.end());
  put32(2, static_cast<uint32_t>(f.size()));
  return f;
}

TEST(BmpFiles, OtherDepthsAndTopDownRows) {
  // 24 bits, 2 x 2, rows padded to 8 bytes; a negative height is top-down.
  std::vector<uint8_t> rows = {1, 2, 3, 4, 5, 6, 0, 0, 7, 8, 9, 10, 11, 12, 0, 0};
  TDecodedBmp d;
  std::string error;
  ASSERT_TRUE(DecodeBmp(HandMadeBmp(2, 2, 24, rows).data(), 54 + 16, d, error)) << error;
  EXPECT_EQ(std::vector<uint8_t>(d.bits.begin(), d.bits.begin() + 4), (std::vector<uint8_t>{1, 2, 3, 0}));
  std::vector<uint8_t> topDown = HandMadeBmp(2, -2, 24, rows);
  ASSERT_TRUE(DecodeBmp(topDown.data(), topDown.size(), d, error)) << error;
  EXPECT_EQ(std::vector<uint8_t>(d.bits.begin(), d.bits.begin() + 4), (std::vector<uint8_t>{7, 8, 9, 0}));
  // 8 bits with 3 table entries; index 200 is past the table: black.
  std::vector<uint8_t> indexed = HandMadeBmp(3, 1, 8, {2, 200, 1, 0}, 3);
  ASSERT_TRUE(DecodeBmp(indexed.data(), indexed.size(), d, error)) << error;
  EXPECT_EQ(d.bits[0], 20);
  EXPECT_EQ(d.bits[4], 0);
  EXPECT_EQ(d.bits[8], 10);
}

TEST(BmpFiles, DamagedFilesFailWithAReason) {
  const TPicture p = Noise(4, 4, 1);
  const std::vector<uint8_t> good = BmpFileImage(p.View());
  TDecodedBmp d;
  std::string error;
  // Every truncation fails, never reading past the end (ASan watches).
  for (size_t n = 0; n < good.size(); ++n) {
    std::vector<uint8_t> cut(good.begin(), good.begin() + n);
    EXPECT_FALSE(DecodeBmp(cut.data(), cut.size(), d, error)) << n;
    EXPECT_FALSE(error.empty());
  }
  auto damaged = [&](size_t at, uint8_t value) {
    std::vector<uint8_t> f = good;
    f[at] = value;
    const bool ok = DecodeBmp(f.data(), f.size(), d, error);
    return ok ? std::string() : error;
  };
  EXPECT_EQ(damaged(0, 'X'), "not a BMP file (no \"BM\")");
  EXPECT_EQ(damaged(28, 7), "unsupported bits per pixel");
  EXPECT_EQ(damaged(30, 1), "compressed BMP files are not supported");
  EXPECT_EQ(damaged(13, 0x7F), "pixel data beyond the end of the file");  // offset far out
  EXPECT_EQ(damaged(21, 0x7F), "picture too large");                      // width huge
  EXPECT_EQ(damaged(14, 20), "unknown info header");
}

TEST(BitmapObject, SavingAndLoadingFiles) {
  KXPtr<INVBitmap> bitmap = CreateNVBitmap(6, 4);
  ASSERT_TRUE(bitmap);
  std::mt19937 random(5);
  for (int i = 0; i < 6 * 4 * 4; ++i) bitmap->Bits()[i] = i % 4 == 3 ? 0 : static_cast<uint8_t>(random());
  const std::string bmp = ::testing::TempDir() + "imaging_test.bmp";
  ASSERT_TRUE(bitmap->SaveBmp(bmp));
  std::string error;
  KXPtr<INVBitmap> loaded = LoadBmpFile(bmp, &error);
  ASSERT_TRUE(loaded) << error;
  EXPECT_EQ(std::memcmp(loaded->Bits(), bitmap->Bits(), 6 * 4 * 4), 0);
  std::remove(bmp.c_str());
  EXPECT_FALSE(LoadBmpFile(bmp, &error));
  EXPECT_NE(error.find("cannot open"), std::string::npos);

  const std::string png = ::testing::TempDir() + "imaging_test.png";
  ASSERT_TRUE(bitmap->SavePng(png, cm256Colours));
  std::FILE* f = std::fopen(png.c_str(), "rb");
  ASSERT_TRUE(f);
  std::fseek(f, 0, SEEK_END);
  EXPECT_EQ(static_cast<size_t>(std::ftell(f)), bitmap->PngImage(cm256Colours).size());
  std::fclose(f);
  std::remove(png.c_str());

  // A file that cannot be written: failure, and nothing left behind.
  const std::string nowhere = ::testing::TempDir() + "no-such-folder/x.png";
  EXPECT_FALSE(bitmap->SavePng(nowhere, cm256Colours));
  EXPECT_EQ(std::fopen(nowhere.c_str(), "rb"), nullptr);

  EXPECT_FALSE(CreateNVBitmap(0, 5));
  EXPECT_FALSE(CreateNVBitmap(100000, 100000));
}

TEST(Zoom, FitsTheBoxKeepingTheAspectRatio) {
  EXPECT_EQ(FitIntoBox(1600, 1200, 400, 400).width, 400);
  EXPECT_EQ(FitIntoBox(1600, 1200, 400, 400).height, 300);
  EXPECT_EQ(FitIntoBox(1200, 1600, 400, 400).width, 300);
  EXPECT_EQ(FitIntoBox(1200, 1600, 400, 400).height, 400);
  EXPECT_EQ(FitIntoBox(100, 50, 400, 200).width, 400);  // enlarged
  EXPECT_EQ(FitIntoBox(100, 50, 400, 200).height, 200);
  EXPECT_EQ(FitIntoBox(5000, 1, 100, 100).height, 1);  // never 0

  KXPtr<INVBitmap> bitmap = CreateNVBitmap(1600, 1200);
  ASSERT_TRUE(bitmap);
  KXPtr<INVBitmap> zoomed = bitmap->Zoom(400, 400);
  ASSERT_TRUE(zoomed);
  EXPECT_EQ(zoomed->Width(), 400);
  EXPECT_EQ(zoomed->Height(), 300);
}

TEST(Zoom, TheFilterKeepsFlatAreasAndSoftensEdges) {
  EXPECT_NEAR(MitchellKernel(0), 8.0 / 9.0, 1e-12);
  EXPECT_NEAR(MitchellKernel(1), 1.0 / 18.0, 1e-12);
  EXPECT_EQ(MitchellKernel(2), 0);
  EXPECT_EQ(MitchellKernel(-1.5), MitchellKernel(1.5));
  // The weights of each destination pixel sum to about 1 (16.16), shrinking
  // and enlarging, and every index lies inside the source.
  for (auto [from, to] : {std::pair{1600, 400}, {7, 3}, {3, 10}, {1, 4}, {400, 400}}) {
    for (const TContributions& c : Contributions(from, to)) {
      int64_t sum = 0;
      for (size_t k = 0; k < c.weight.size(); ++k) {
        sum += c.weight[k];
        EXPECT_GE(c.index[k], 0);
        EXPECT_LT(c.index[k], from);
      }
      EXPECT_NEAR(static_cast<double>(sum), 65536.0, 65536.0 * 0.03) << from << "->" << to;
    }
  }
  // A flat colour stays flat; a black/white edge shrinks into grey steps.
  TPicture flat(37, 23);
  for (int y = 0; y < 23; ++y)
    for (int x = 0; x < 37; ++x) flat.Set(x, y, 100, 150, 200);
  for (auto [w, h] : {std::pair{10, 6}, {80, 50}}) {
    const std::vector<uint8_t> out = Resample(flat.View(), w, h);
    ASSERT_EQ(out.size(), static_cast<size_t>(w * h * 4));
    for (size_t i = 0; i < out.size(); i += 4) {
      EXPECT_NEAR(out[i], 200, 3);
      EXPECT_NEAR(out[i + 1], 150, 3);
      EXPECT_NEAR(out[i + 2], 100, 3);
    }
  }
  TPicture edge(40, 1);
  for (int x = 20; x < 40; ++x) edge.Set(x, 0, 255, 255, 255);
  const std::vector<uint8_t> shrunk = Resample(edge.View(), 10, 1);
  EXPECT_LT(shrunk[0], 10);
  EXPECT_GT(shrunk[9 * 4], 245);
  EXPECT_GT(shrunk[5 * 4], shrunk[4 * 4]);
  for (int x = 1; x < 10; ++x) EXPECT_GE(shrunk[x * 4], shrunk[(x - 1) * 4]);
}

}  // namespace
}  // namespace kestrix::imaging
