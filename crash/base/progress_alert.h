// IProgressAlert, the progress window: a small always-on-top tool window
// with an optional 32x32 picture, the active area's text and a bar. It may
// be driven from a thread other than the one that opened it. The report's
// please-wait box and the delivery use it; report_ui/progress implements it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "kestrix/interfaces.h"

namespace kestrix {

class IProgressAlert : public IKXUnknown {
 public:
  static constexpr KXIID IID = {0x4b585041, 0x0001, 0x0002, 0x0003};
  virtual std::string WindowTitle() = 0;
  virtual void SetWindowTitle(const std::string& title) = 0;
  virtual int AreaPosition() = 0;                // 0..1000 within the active area
  virtual void SetAreaPosition(int position) = 0;
  virtual void AppendArea(const std::string& text, int64_t weight) = 0;
  virtual void RemoveAreas() = 0;
  virtual void FinishArea() = 0;
  virtual int ActiveArea() = 0;
  virtual void SetActiveArea(int index) = 0;
  virtual void PumpMessages() = 0;
  // False when the window is already shown.
  virtual bool OpenWindow(HWND owner, bool activate) = 0;
  virtual void CloseWindow() = 0;
};

}  // namespace kestrix
