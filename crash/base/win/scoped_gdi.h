// Owners of GDI objects and device contexts: fonts, brushes, bitmaps and
// regions (DeleteObject), memory DCs (DeleteDC) and window or screen DCs
// (ReleaseDC, which needs the window the DC was taken from).
#pragma once

#include <windows.h>

#include <utility>

#include "crash/base/win/scoped_resource.h"

namespace kestrix {

template <class T>
struct TGdiObjectTraits {
  using Type = T;
  static constexpr T Empty() { return nullptr; }
  static bool IsValid(T h) { return h != nullptr; }
  static void Close(T h) { DeleteObject(h); }
};
template <class T>
using TScopedGdiObject = TScoped<TGdiObjectTraits<T>>;
using TScopedFont = TScopedGdiObject<HFONT>;
using TScopedBrush = TScopedGdiObject<HBRUSH>;
using TScopedBitmap = TScopedGdiObject<HBITMAP>;
using TScopedRegion = TScopedGdiObject<HRGN>;

// A DC made by CreateCompatibleDC or CreateDC, closed with DeleteDC.
struct TMemoryDCTraits {
  using Type = HDC;
  static constexpr HDC Empty() { return nullptr; }
  static bool IsValid(HDC h) { return h != nullptr; }
  static void Close(HDC h) { DeleteDC(h); }
};
using TScopedMemoryDC = TScoped<TMemoryDCTraits>;

// A window's DC from GetDC (the screen's for a null window), given back with
// ReleaseDC to the same window.
class TWindowDC {
 public:
  TWindowDC() = default;
  explicit TWindowDC(HWND window) : window_(window), dc_(GetDC(window)) {}
  TWindowDC(TWindowDC&& o) noexcept
      : window_(std::exchange(o.window_, nullptr)), dc_(std::exchange(o.dc_, nullptr)) {}
  TWindowDC& operator=(TWindowDC&& o) noexcept {
    if (this != &o) {
      Reset();
      window_ = std::exchange(o.window_, nullptr);
      dc_ = std::exchange(o.dc_, nullptr);
    }
    return *this;
  }
  TWindowDC(const TWindowDC&) = delete;
  TWindowDC& operator=(const TWindowDC&) = delete;
  ~TWindowDC() { Reset(); }

  HDC Get() const { return dc_; }
  explicit operator bool() const { return dc_ != nullptr; }
  void Reset() {
    if (dc_) ReleaseDC(window_, dc_);
    window_ = nullptr;
    dc_ = nullptr;
  }

 private:
  HWND window_ = nullptr;
  HDC dc_ = nullptr;
};

// Selects an object into a DC and selects the previous one back when it
// goes, so that the object can then be deleted.
class TSelectObject {
 public:
  TSelectObject(HDC dc, HGDIOBJ object) : dc_(dc), previous_(object ? SelectObject(dc, object) : nullptr) {}
  TSelectObject(const TSelectObject&) = delete;
  TSelectObject& operator=(const TSelectObject&) = delete;
  ~TSelectObject() {
    if (previous_) SelectObject(dc_, previous_);
  }

 private:
  HDC dc_;
  HGDIOBJ previous_;
};

}  // namespace kestrix
