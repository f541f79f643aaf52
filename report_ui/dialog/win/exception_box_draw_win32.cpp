// TExceptionBox drawing: the flat (or system-framed) buttons composed off
// screen with their pictures, the focus and press fades, the count-down
// line, the separator and the link label.
#include <algorithm>
#include <cstring>

#include "report_ui/dialog/win/exception_box_win32.h"

namespace kestrix {

namespace {

// Colours here are 0x00RRGGBB, as the 32-bit surface holds them.
uint32_t SysRgb(int index) {
  const COLORREF c = GetSysColor(index);
  return GetRValue(c) << 16 | GetGValue(c) << 8 | GetBValue(c);
}

COLORREF ToColorRef(uint32_t rgb) { return RGB(rgb >> 16 & 255, rgb >> 8 & 255, rgb & 255); }

bool DeepColour(HDC dc) { return GetDeviceCaps(dc, BITSPIXEL) * GetDeviceCaps(dc, PLANES) > 14; }

void FillRgb(HDC dc, const RECT& r, uint32_t rgb) {
  SetBkColor(dc, ToColorRef(rgb));
  ExtTextOutA(dc, 0, 0, ETO_OPAQUE, &r, nullptr, 0, nullptr);
}

// a toward b by quarters (0..4).
uint32_t BlendQuarters(uint32_t a, uint32_t b, int quarters) { return BlendEighths(a, b, quarters * 2); }

}  // namespace

void TExceptionBox::DrawPicture(int index, uint32_t* pixels, int stride, int x, int y, int n) {
  if (!pixels) return;
  const char* name = ButtonPictureName(index);
  HMODULE module = GetModuleHandleA(nullptr);
  HRSRC info = FindResourceA(module, name, MAKEINTRESOURCEA(2) /* RT_BITMAP */);
  if (!info && e_->Module()) {
    module = e_->Module();
    info = FindResourceA(module, name, MAKEINTRESOURCEA(2));
  }
  // Only a picture of exactly the right size is drawn.
  if (!info || SizeofResource(module, info) != PictureResourceSize(n)) return;
  HGLOBAL handle = LoadResource(module, info);
  const auto* data = static_cast<const unsigned char*>(handle ? LockResource(handle) : nullptr);
  if (!data) return;
  int32_t height = 0;
  std::memcpy(&height, data + 8, 4);
  for (int row = 0; row < n; ++row) {
    const int source = height > 0 ? n - 1 - row : row;  // stored bottom-up unless the height is negative
    for (int col = 0; col < n; ++col) {
      uint32_t p;
      std::memcpy(&p, data + 40 + 4 * (source * n + col), 4);
      uint32_t& dst = pixels[(y + row) * stride + x + col];
      dst = BlendPicturePixel32(p, dst & 0xFFFFFF);
    }
  }
}

void TExceptionBox::DrawButton(int index, HDC target) {
  HWND button = buttons_[index];
  if (!button || !memDC_.Get() || !memPixels_) return;
  RECT rect;
  GetClientRect(button, &rect);
  const int w = std::min<int>(rect.right, memWidth_), h = std::min<int>(rect.bottom, buttonHeight_);
  const RECT area = {0, 0, w, h};
  const bool deep = DeepColour(target);
  const bool enabled = IsWindowEnabled(button);
  const bool hasFocus = GetFocus() == button;
  const uint32_t face = SysRgb(COLOR_BTNFACE), dark = SysRgb(COLOR_3DDKSHADOW);
  const int d = ugly_ ? 2 : 0;
  const bool counting = index == autoButton_ && countStart_ && lastX_ >= 0;
  uint32_t background, text;
  if (ugly_) {
    background = face;
    text = 0;
  } else if (counting) {
    background = dark;
    text = 0xFFFFFF;
  } else {
    const uint32_t normal = deep ? ShadeButtonFace(face, !enabled) : face;
    const uint32_t pressed = BlendEighths(dark, 0, 4);
    background = BlendEighths(BlendEighths(normal, dark, fade_[index]), pressed, press_[index]);
    text = BlendEighths(BlendEighths(0, 0xFFFFFF, fade_[index]), 0xFFFFFF, press_[index]);
  }
  FillRgb(memDC_.Get(), area, background);
  if (ugly_) {
    RECT frame = area;
    const bool down = SendMessageA(button, BM_GETSTATE, 0, 0) & BST_PUSHED;
    DrawFrameControl(memDC_.Get(), &frame, DFC_BUTTON, DFCS_BUTTONPUSH | (down ? DFCS_PUSHED : 0));
  }
  if (counting) {
    // The count-down line, flanked by three lines on each side that blend
    // into the background.
    const uint32_t line = ugly_ ? dark : face;
    const int x = lastX_;
    // Distance k from the line: k quarters of the way to the background.
    for (int k = deep ? 3 : 0; k >= 0; --k) {
      const uint32_t c = BlendQuarters(line, background, k);
      for (int px : {x - k, x + k})
        if (px >= 0 && px < w) FillRgb(memDC_.Get(), RECT{px, 0, px + 1, h}, c);
    }
  }
  GdiFlush();
  const int pictureIndex = static_cast<int>(GetWindowLongPtrA(button, GWLP_USERDATA));
  if (h >= 16 + d + 3) DrawPicture(pictureIndex, memPixels_, memWidth_, d + 3, d + 3, 16);
  char caption[64] = {};
  GetWindowTextA(button, caption, sizeof caption);
  RECT measure = {0, 0, 0, 0};
  DrawTextA(memDC_.Get(), caption, -1, &measure, DT_CALCRECT | DT_SINGLELINE);
  const int tw = measure.right - measure.left;
  RECT tr = {27 + (w - tw - 35) / 2, d + 4, w, h};
  if (!enabled) {
    RECT shadow = tr;
    OffsetRect(&shadow, 1, 1);
    SetTextColor(memDC_.Get(), RGB(255, 255, 255));
    DrawTextA(memDC_.Get(), caption, -1, &shadow, DT_SINGLELINE);
    SetTextColor(memDC_.Get(), ToColorRef(dark));
  } else {
    SetTextColor(memDC_.Get(), ToColorRef(text));
  }
  DrawTextA(memDC_.Get(), caption, -1, &tr, DT_SINGLELINE);
  if (ugly_ && hasFocus) {
    RECT focus = area;
    InflateRect(&focus, -3, -3);
    DrawFocusRect(memDC_.Get(), &focus);
  }
  BitBlt(target, 0, 0, w, h, memDC_.Get(), 0, 0, SRCCOPY);
}

void TExceptionBox::FocusChanged(int index) {
  const int previous = focused_;
  focused_ = index;
  const bool animate = !ugly_ && !messageBox_;
  for (int b : {previous, index}) {
    if (b < 0 || b >= kDialogButtons) continue;
    fadeTarget_[b] = b == index ? 8 : 0;
    if (!animate) fade_[b] = fadeTarget_[b];
    if (buttons_[b]) InvalidateRect(buttons_[b], nullptr, FALSE);
  }
  if (animate) SetTimer(window_, kFadeTimer, 10, nullptr);
}

void TExceptionBox::StartPressFade(int index) {
  if (ugly_ || messageBox_ || index < 0 || index >= kDialogButtons) return;
  const DWORD now = GetTickCount();
  if (index != dbShow && lastFade_ && now - lastFade_ < 200) return;
  lastFade_ = now;
  pressTarget_[index] = 8;
  pressReturns_[index] = index != dbShow;
  SetTimer(window_, kFadeTimer, 10, nullptr);
}

void TExceptionBox::StepFades() {
  bool moving = false;
  for (int b = 0; b < kDialogButtons; ++b) {
    bool changed = false;
    if (fade_[b] != fadeTarget_[b]) {
      fade_[b] += fade_[b] < fadeTarget_[b] ? 1 : -1;
      changed = true;
    }
    if (press_[b] != pressTarget_[b]) {
      press_[b] += press_[b] < pressTarget_[b] ? 1 : -1;
      changed = true;
    } else if (pressReturns_[b] && press_[b] == 8) {
      pressTarget_[b] = 0;
      pressReturns_[b] = false;
      changed = true;
    }
    moving |= changed;
    if (changed && buttons_[b]) InvalidateRect(buttons_[b], nullptr, FALSE);
  }
  if (!moving) KillTimer(window_, kFadeTimer);
}

void TExceptionBox::StepCountDown() {
  if (!countStart_ || autoButton_ < 0 || !buttons_[autoButton_]) return;
  const int delay = e_->AutoDelay();
  if (delay <= 0) return;  // the auto button is never pressed
  RECT r;
  GetClientRect(buttons_[autoButton_], &r);
  const int x = CountDownX(GetTickCount() - countStart_, r.right, delay, ugly_);
  if (x == lastX_) return;
  lastX_ = x;
  InvalidateRect(buttons_[autoButton_], nullptr, FALSE);
  if (x > CountDownLimit(r.right, ugly_)) {
    KillTimer(window_, kCountDownTimer);
    PostMessageA(window_, WM_COMMAND, MAKEWPARAM(100 + autoButton_, BN_CLICKED),
                 reinterpret_cast<LPARAM>(buttons_[autoButton_]));
  }
}

void TExceptionBox::StopCountDown() {
  if (!countStart_) return;
  KillTimer(window_, kCountDownTimer);
  countStart_ = 0;
  lastX_ = -1;
  if (autoButton_ >= 0 && buttons_[autoButton_]) InvalidateRect(buttons_[autoButton_], nullptr, FALSE);
}

void TExceptionBox::PaintSeparator(HDC dc) {
  if (separatorY_ < 0) return;
  RECT client;
  GetClientRect(window_, &client);
  const uint32_t face = SysRgb(COLOR_BTNFACE), dark = SysRgb(COLOR_3DDKSHADOW);
  const int right = client.right - 6;
  const std::string label = LinkLabelText();
  HGDIOBJ old = SelectObject(dc, smallFont_.Get() ? smallFont_.Get() : font_.Get());
  SIZE size{};
  GetTextExtentPoint32A(dc, label.c_str(), static_cast<int>(label.size()), &size);
  const int labelLeft = label.empty() ? right : right - size.cx;
  const int lineEnd = std::max(labelLeft - 4, 1);
  for (int x = 0; x < lineEnd; ++x) {
    const int share = x * 256 / lineEnd;
    uint32_t mix = 0;
    for (int shift : {0, 8, 16}) {
      const int a = dark >> shift & 255, b = face >> shift & 255;
      mix |= static_cast<uint32_t>((a * (256 - share) + b * share) >> 8) << shift;
    }
    SetPixelV(dc, x, separatorY_, ToColorRef(mix));
  }
  if (!label.empty()) {
    link_ = {labelLeft, separatorY_ - 5, right, separatorY_ + 5};
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, linkHover_ ? RGB(128, 0, 144) : ToColorRef(dark));
    TextOutA(dc, labelLeft, separatorY_ - size.cy / 2, label.c_str(), static_cast<int>(label.size()));
  }
  SelectObject(dc, old);
}

}  // namespace kestrix
