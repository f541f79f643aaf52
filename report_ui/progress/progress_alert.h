// The progress window's implementation of IProgressAlert.
#pragma once

#include <windows.h>

#include <string>

#include "crash/base/progress_alert.h"

namespace kestrix {

// `pictureName` names a bitmap resource of `pictureModule` (32x32, 32-bit
// with alpha); an empty name or no module shows no picture.
KXPtr<IProgressAlert> CreateProgressAlert(const std::string& title, HMODULE pictureModule,
                                          const std::string& pictureName);

// Window handles of an open progress window, for tests and drivers.
struct TProgressWindows {
  HWND main, picture, label, bar;
};
bool GetProgressWindows(IProgressAlert* alert, TProgressWindows& windows);

}  // namespace kestrix
