// The header of a 32-bit device-independent bitmap whose rows run from the
// top, as the drivers paint and read pixels.
#pragma once

#include <windows.h>

namespace testhelpers {

inline BITMAPINFO TopDownBitmapInfo(int width, int height) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  return info;
}

}  // namespace testhelpers
