// The bitmap object and its file output; the memory surface outside Windows.
#include "report_ui/imaging/inv_bitmap.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "report_ui/imaging/bmp_file.h"
#include "report_ui/imaging/mitchell_zoom.h"
#include "report_ui/imaging/png_writer.h"

namespace kestrix::imaging {

#ifndef _WIN32
namespace {
class TMemorySurface final : public TBitmapSurface {
 public:
  explicit TMemorySurface(size_t bytes) : bits_(bytes) {}
  uint8_t* Bits() override { return bits_.data(); }
  void* DC() override { return nullptr; }
  bool Draw(void*, int, int, int, int) override { return false; }

 private:
  std::vector<uint8_t> bits_;
};
}  // namespace

std::unique_ptr<TBitmapSurface> CreateBitmapSurface(int width, int height) {
  try {
    return std::make_unique<TMemorySurface>(static_cast<size_t>(width) * static_cast<size_t>(height) * 4);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
#endif

bool TINVBitmap::QueryInterface(const KXIID& iid, void** out) {
  if (iid == INVBitmap::IID) {
    *out = static_cast<INVBitmap*>(this);
    AddRef();
    return true;
  }
  *out = nullptr;
  return false;
}

std::vector<uint8_t> TINVBitmap::BmpImage() { return BmpFileImage(View()); }

bool TINVBitmap::SaveBmp(const std::string& path) { return WriteWholeFile(path, BmpImage()); }

std::vector<uint8_t> TINVBitmap::PngImage(int colourMode) { return EncodePng(View(), colourMode).file; }

bool TINVBitmap::SavePng(const std::string& path, int colourMode) {
  const std::vector<uint8_t> png = PngImage(colourMode);
  return !png.empty() && WriteWholeFile(path, png);
}

KXPtr<INVBitmap> TINVBitmap::Zoom(int boxWidth, int boxHeight) {
  const TSize size = FitIntoBox(width_, height_, boxWidth, boxHeight);
  KXPtr<INVBitmap> zoomed = CreateNVBitmap(size.width, size.height);
  if (!zoomed) return zoomed;
  const std::vector<uint8_t> bits = Resample(View(), size.width, size.height);
  if (bits.empty()) return KXPtr<INVBitmap>();
  std::memcpy(zoomed->Bits(), bits.data(), bits.size());
  return zoomed;
}

KXPtr<INVBitmap> CreateNVBitmap(int width, int height) {
  if (width <= 0 || height <= 0 || static_cast<uint64_t>(width) * static_cast<uint64_t>(height) > kMaxPixels)
    return KXPtr<INVBitmap>();
  std::unique_ptr<TBitmapSurface> surface = CreateBitmapSurface(width, height);
  if (!surface || !surface->Bits()) return KXPtr<INVBitmap>();
  return KXPtr<INVBitmap>(new (std::nothrow) TINVBitmap(width, height, std::move(surface)));
}

KXPtr<INVBitmap> BitmapFromBmp(const uint8_t* data, size_t size, std::string* error) {
  TDecodedBmp decoded;
  std::string why;
  if (!DecodeBmp(data, size, decoded, why)) {
    if (error) *error = why;
    return KXPtr<INVBitmap>();
  }
  KXPtr<INVBitmap> bitmap = CreateNVBitmap(decoded.width, decoded.height);
  if (!bitmap) {
    if (error) *error = "out of memory";
    return bitmap;
  }
  std::memcpy(bitmap->Bits(), decoded.bits.data(), decoded.bits.size());
  return bitmap;
}

KXPtr<INVBitmap> LoadBmpFile(const std::string& path, std::string* error) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) {
    if (error) *error = "cannot open " + path;
    return KXPtr<INVBitmap>();
  }
  std::vector<uint8_t> bytes;
  uint8_t buffer[65536];
  size_t got;
  // A BMP larger than the largest picture allowed is not read to its end.
  constexpr size_t kMaxFile = kMaxPixels * 4 + 65536;
  while ((got = std::fread(buffer, 1, sizeof buffer, f)) > 0 && bytes.size() <= kMaxFile)
    bytes.insert(bytes.end(), buffer, buffer + got);
  const bool failed = std::ferror(f) != 0;
  std::fclose(f);
  if (failed) {
    if (error) *error = "cannot read " + path;
    return KXPtr<INVBitmap>();
  }
  return BitmapFromBmp(bytes.data(), bytes.size(), error);
}

bool WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  ok = std::fclose(f) == 0 && ok;
  if (!ok) std::remove(path.c_str());
  return ok;
}

}  // namespace kestrix::imaging
