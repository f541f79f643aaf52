// The window of a page while it is shown (internal to the form runtime):
// its layout and painting (nv_form_paint_win32.cpp), its controls, events
// and modal loop (nv_form_window_win32.cpp).
#pragma once

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "crash/base/win/scoped_gdi.h"
#include "report_ui/assistant/win/nv_form.h"

namespace kestrix {
namespace nvform {

inline constexpr char kWindowClass[] = "KestrixNVForm";
inline constexpr int kFirstId = 100;
inline constexpr int kItemX = 21;
inline constexpr int kMessageSize = 15, kItemSize = 11;
inline constexpr UINT kRecheck = WM_APP;
inline constexpr UINT kImageChanged = WM_APP + 1;  // wParam: the item

struct TTint {
  COLORREF frame;
  int step[3];  // red, green, blue per row
};
inline const TTint kTints[3] = {{RGB(128, 160, 128), {2, 1, 2}}, {RGB(128, 128, 160), {2, 2, 1}}, {RGB(160, 128, 128), {1, 2, 2}}};

inline COLORREF Shift(COLORREF c, int r, int g, int b) {
  auto clamp = [](int v) { return std::clamp(v, 0, 255); };
  return RGB(clamp(GetRValue(c) + r), clamp(GetGValue(c) + g), clamp(GetBValue(c) + b));
}

// Sizes are character heights in pixels, as in the exception dialog and the
// progress window.
inline HFONT MakeFont(const char* face, int pixels, bool bold) {
  return CreateFontA(-pixels, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                     CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, face);
}

inline SIZE TextSize(HDC dc, HFONT font, const std::string& text) {
  HGDIOBJ old = SelectObject(dc, font);
  SIZE size{0, 0};
  GetTextExtentPoint32A(dc, text.empty() ? " " : text.c_str(), text.empty() ? 1 : static_cast<int>(text.size()), &size);
  if (text.empty()) size.cx = 0;
  SelectObject(dc, old);
  return size;
}

inline std::string WindowText(HWND w) {
  int length = GetWindowTextLengthA(w);
  std::string text(static_cast<size_t>(length) + 1, '\0');
  text.resize(static_cast<size_t>(GetWindowTextA(w, text.data(), length + 1)));
  return text;
}

}  // namespace nvform

class TNVFormWindow {
 public:
  TNVFormWindow(TNVForm& form, HWND owner) : form_(form), m_(form.model_), owner_(owner) {}

  int Run();

 private:
  static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM w, LPARAM l);
  LRESULT Handle(UINT message, WPARAM w, LPARAM l);
  void Layout(HDC dc);
  void CreateWindows();
  void Paint(HDC dc);
  // The picture of image item i as shown: zoomed into its box when its
  // size differs.
  void FitImage(size_t i, int boxWidth, int boxHeight);
  int ImageFrame(size_t i) const;
  void DrawButton(const DRAWITEMSTRUCT& d);
  void Recheck();
  void Close(int result);
  void Clicked(int index);
  // From the item window `from` to the next (previous) enabled one.
  void MoveFocus(HWND from, bool back);
  HWND ItemWindow(size_t i) const { return i < form_.itemWindows_.size() ? form_.itemWindows_[i] : nullptr; }
  int IndexOf(HWND control) const;

  TNVForm& form_;
  TFormModel& m_;
  HWND owner_;
  HWND window_ = nullptr;
  TScopedFont messageFont_, itemFont_, buttonFont_, buttonBoldFont_;
  int width_ = 0, height_ = 0, buttonY_ = 0;
  std::vector<RECT> rects_;  // per item, client coordinates
  std::vector<bool> heading_;
  std::vector<KXPtr<imaging::INVBitmap>> shown_;  // per image item
  std::vector<std::string> textsAtShow_;
  bool done_ = false;
};

}  // namespace kestrix
