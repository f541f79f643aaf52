// INVBitmap: a 32-bit bitmap object (rows bottom-up, blue, green, red and
// an ignored byte per pixel) with drawing, BMP and PNG output and zoom.
// Under Windows its pixels are a DIB section selected into a memory
// drawing context; elsewhere plain memory.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "kestrix/interfaces.h"
#include "report_ui/imaging/pixels.h"

namespace kestrix::imaging {

class INVBitmap : public IKXUnknown {
 public:
  static constexpr KXIID IID = {0x4b58424d, 0x0001, 0x0002, 0x0003};
  // Plain copy into a drawing context (an HDC) at (x, y).
  virtual bool Draw(void* dc, int x, int y) = 0;
  virtual std::vector<uint8_t> BmpImage() = 0;
  virtual bool SaveBmp(const std::string& path) = 0;
  virtual std::vector<uint8_t> PngImage(int colourMode) = 0;
  virtual bool SavePng(const std::string& path, int colourMode) = 0;
  // A new bitmap that keeps the aspect ratio and fits the box.
  virtual KXPtr<INVBitmap> Zoom(int boxWidth, int boxHeight) = 0;
  virtual int Width() = 0;
  virtual int Height() = 0;
  virtual uint8_t* Bits() = 0;
  // The memory drawing context (an HDC) with the bitmap selected; none
  // outside Windows.
  virtual void* DC() = 0;
};

// Where a bitmap's pixels live: memory, or a DIB section with its context.
class TBitmapSurface {
 public:
  virtual ~TBitmapSurface() = default;
  virtual uint8_t* Bits() = 0;
  virtual void* DC() = 0;
  virtual bool Draw(void* dc, int x, int y, int width, int height) = 0;
};
// A surface of width x height pixels, zero-filled; none when it cannot be
// made (defined by the platform's file).
std::unique_ptr<TBitmapSurface> CreateBitmapSurface(int width, int height);

class TINVBitmap final : public INVBitmap, private TKXRefCounted {
 public:
  TINVBitmap(int width, int height, std::unique_ptr<TBitmapSurface> surface)
      : width_(width), height_(height), surface_(std::move(surface)) {}
  bool QueryInterface(const KXIID& iid, void** out) override;
  KX_IMPLEMENT_REFCOUNT

  bool Draw(void* dc, int x, int y) override { return surface_->Draw(dc, x, y, width_, height_); }
  std::vector<uint8_t> BmpImage() override;
  bool SaveBmp(const std::string& path) override;
  std::vector<uint8_t> PngImage(int colourMode) override;
  bool SavePng(const std::string& path, int colourMode) override;
  KXPtr<INVBitmap> Zoom(int boxWidth, int boxHeight) override;
  int Width() override { return width_; }
  int Height() override { return height_; }
  uint8_t* Bits() override { return surface_->Bits(); }
  void* DC() override { return surface_->DC(); }

  TPixelView View() { return TPixelView{width_, height_, surface_->Bits()}; }

 private:
  int width_, height_;
  std::unique_ptr<TBitmapSurface> surface_;
};

// A new zero-filled bitmap; none for a size that is not positive, too
// large, or when memory runs out.
KXPtr<INVBitmap> CreateNVBitmap(int width, int height);
// A bitmap from a BMP file image or file; none (and the reason in error)
// for a file that cannot be read or is not a BMP of a kind DecodeBmp reads.
KXPtr<INVBitmap> BitmapFromBmp(const uint8_t* data, size_t size, std::string* error = nullptr);
KXPtr<INVBitmap> LoadBmpFile(const std::string& path, std::string* error = nullptr);

// Writes all bytes to path; a file that could not be written completely is
// deleted and false returned.
bool WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes);

}  // namespace kestrix::imaging
