// A page's layout (sizes and places of its items and buttons) and its
// painting: the page, the step numbers, labels and frames, the owner-drawn
// buttons with their tints.
#include "report_ui/assistant/win/nv_form_window.h"

namespace kestrix {

using namespace nvform;

int TNVFormWindow::ImageFrame(size_t i) const {
  return (m_.items[i].clickable ? 6 : 0) + (m_.items[i].border ? 2 : 0);
}

void TNVFormWindow::FitImage(size_t i, int boxWidth, int boxHeight) {
  KXPtr<imaging::INVBitmap> bitmap = form_.ItemBitmap(static_cast<int>(i));
  if (bitmap && (bitmap->Width() != boxWidth || bitmap->Height() != boxHeight))
    bitmap = bitmap->Zoom(boxWidth, boxHeight);
  shown_[i] = bitmap;
}

void TNVFormWindow::Layout(HDC dc) {
  size_t n = m_.items.size();
  rects_.assign(n, RECT{0, 0, 0, 0});
  heading_.assign(n, false);
  shown_.assign(n, KXPtr<imaging::INVBitmap>());
  int buttonsWidth = 0, buttonHeight = 0;
  for (size_t i = 0; i < n; ++i) {
    const TFormItem& item = m_.items[i];
    if (item.itemClass != TFormItemClass::Button) continue;
    int w, h;
    if (item.noOwnerDraw) {
      int cw = TextSize(dc, itemFont_.Get(), item.caption).cx;
      w = cw < 55 ? 75 : cw + 20;
      h = 23;
    } else {
      int cw = TextSize(dc, buttonBoldFont_.Get(), item.caption).cx;
      w = cw <= 64 ? 85 : cw + 20;
      h = 32;
    }
    w = std::max(w, item.minWidth);
    rects_[i] = RECT{0, 0, w, h};
    if (i < 3 && item.visible) {
      buttonsWidth += w;
      buttonHeight = std::max(buttonHeight, h);
    }
  }
  if (buttonHeight == 0) buttonHeight = 32;
  int messageWidth = TextSize(dc, messageFont_.Get(), m_.message).cx;
  width_ = std::max({315, buttonsWidth + 32, m_.minWidth, messageWidth + form_.pageCount_ * 19 + 36});

  int textHeight = TextSize(dc, itemFont_.Get(), "Gg").cy;
  int y = 40, bottom = 40;
  for (size_t i = 3; i < n; ++i) {
    const TFormItem& item = m_.items[i];
    RECT r{kItemX, y, kItemX, y};
    switch (item.itemClass) {
      case TFormItemClass::Label: {
        RECT calc{0, 0, width_ - 2 * kItemX, 0};
        HGDIOBJ old = SelectObject(dc, itemFont_.Get());
        std::string caption = item.caption.empty() ? item.name : item.caption;
        DrawTextA(dc, caption.c_str(), -1, &calc, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
        SelectObject(dc, old);
        r = RECT{kItemX, y - 2, kItemX + calc.right, y - 2 + calc.bottom};
        heading_[i] = item.EndsLikeHeading() && calc.bottom <= textHeight;
        break;
      }
      case TFormItemClass::Edit:
        r.right = kItemX + width_ - 46;
        r.bottom = y + textHeight * std::max(item.lines, 1) + 2 + 4;  // the frame of 2 around
        break;
      case TFormItemClass::CheckBox: {
        SIZE s = TextSize(dc, itemFont_.Get(), item.caption);
        r.right = kItemX + s.cx + GetSystemMetrics(SM_CXMENUCHECK) + 8;
        r.bottom = y + std::max<int>(s.cy, GetSystemMetrics(SM_CYMENUCHECK));
        break;
      }
      case TFormItemClass::Image: {
        const int frame = ImageFrame(i);
        KXPtr<imaging::INVBitmap> bitmap = form_.ItemBitmap(static_cast<int>(i));
        if (!bitmap && !item.file.empty()) {
          bitmap = imaging::LoadBmpFile(item.file);
          if (bitmap) form_.SetItemBitmap(static_cast<int>(i), bitmap);
        }
        int w = item.width > 0 ? item.width : bitmap ? bitmap->Width() : 32;
        int h = item.height > 0 ? item.height : bitmap ? bitmap->Height() : 32;
        w = std::min(w, width_ - 42 - frame);
        h = std::min(h, GetSystemMetrics(SM_CYSCREEN) / 3);
        FitImage(i, w, h);
        if (shown_[i]) {  // the zoomed copy keeps the picture's proportions
          w = shown_[i]->Width();
          h = shown_[i]->Height();
        }
        r.right = kItemX + w + 2 * frame;
        r.bottom = y + h + 2 * frame;
        break;
      }
      case TFormItemClass::Button:
        r.right = kItemX + rects_[i].right;
        r.bottom = y + rects_[i].bottom;
        break;
    }
    rects_[i] = r;
    bottom = r.bottom;
    y = r.bottom + ItemGap(m_, i, heading_);
  }
  height_ = bottom + buttonHeight + 33;
  buttonY_ = height_ - buttonHeight - 9;

  // The three buttons at the bottom.
  auto width = [&](size_t i) { return m_.items[i].visible ? rects_[i].right : 0; };
  auto place = [&](size_t i, int x) {
    int h = rects_[i].bottom - rects_[i].top;
    int w = rects_[i].right - rects_[i].left;
    rects_[i] = RECT{x, height_ - h - 9, x + w, height_ - 9};
  };
  bool plain = m_.items[0].noOwnerDraw && m_.items[2].noOwnerDraw && !m_.items[1].visible;
  int cancelX = width_ - width(2) - 8;
  if (plain) {
    place(2, cancelX);
    place(0, cancelX - 8 - width(0));
  } else {
    place(0, 8);
    place(1, 8 + width(0) + 8);
    place(2, cancelX);
  }
  place(1, m_.items[1].visible ? rects_[1].left : 0);
}


void TNVFormWindow::Paint(HDC dc) {
  COLORREF face = GetSysColor(COLOR_BTNFACE);
  RECT all{0, 0, width_, height_};
  FillRect(dc, &all, TScopedBrush(CreateSolidBrush(Shift(face, 8, 8, 8))).Get());
  RECT panel{8, 25, width_ - 8, buttonY_ - 10};
  FillRect(dc, &panel, TScopedBrush(CreateSolidBrush(face)).Get());
  FrameRect(dc, &panel, TScopedBrush(CreateSolidBrush(Shift(face, -16, -16, -16))).Get());

  SetBkMode(dc, TRANSPARENT);
  HGDIOBJ old = SelectObject(dc, messageFont_.Get());
  SetTextColor(dc, GetSysColor(COLOR_3DDKSHADOW));
  TextOutA(dc, 11, 6, m_.message.c_str(), static_cast<int>(m_.message.size()));
  // The step numbers, the current one on its gradient box.
  for (int k = 0; k < form_.pageCount_; ++k) {
    int x = width_ - form_.pageCount_ * 19 - 3 + k * 19;
    std::string number = std::to_string(k + 1);
    bool current = k == form_.pageIndex_;
    if (current) {
      COLORREF c = GetSysColor(COLOR_WINDOW);
      for (int row = 0; row < 20; ++row) {
        RECT line{x, 3 + row, x + 20, 4 + row};
        FillRect(dc, &line, TScopedBrush(CreateSolidBrush(Shift(c, -2 * row, -2 * row, -2 * row))).Get());
      }
    }
    SelectObject(dc, current ? buttonBoldFont_.Get() : buttonFont_.Get());
    SetTextColor(dc, GetSysColor(current ? COLOR_WINDOWTEXT : COLOR_BTNSHADOW));
    RECT box{x, 3, x + 20, 23};
    DrawTextA(dc, number.c_str(), -1, &box, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
  }

  SelectObject(dc, itemFont_.Get());
  SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
  for (size_t i = 3; i < m_.items.size(); ++i) {
    const TFormItem& item = m_.items[i];
    RECT r = rects_[i];
    if (item.itemClass == TFormItemClass::Label) {
      std::string caption = item.caption.empty() ? item.name : item.caption;
      DrawTextA(dc, caption.c_str(), -1, &r, DT_WORDBREAK | DT_NOPREFIX);
    } else if (item.itemClass == TFormItemClass::Edit) {
      DrawEdge(dc, &r, EDGE_SUNKEN, BF_RECT);
    } else if (item.itemClass == TFormItemClass::Image) {
      if (item.border) DrawEdge(dc, &r, EDGE_SUNKEN, BF_RECT);
      if (item.clickable) {
        RECT inner = r;
        InflateRect(&inner, item.border ? -2 : 0, item.border ? -2 : 0);
        FrameRect(dc, &inner, TScopedBrush(CreateSolidBrush(GetSysColor(COLOR_BTNSHADOW))).Get());
      }
      const int frame = ImageFrame(i);
      if (shown_[i]) shown_[i]->Draw(dc, r.left + frame, r.top + frame);
    }
  }
  SelectObject(dc, old);
}

void TNVFormWindow::DrawButton(const DRAWITEMSTRUCT& d) {
  int index = static_cast<int>(d.CtlID) - kFirstId;
  if (index < 0 || static_cast<size_t>(index) >= m_.items.size()) return;
  const TTint& tint = kTints[std::min(index, 2)];
  HDC dc = d.hDC;
  RECT r = d.rcItem;
  int w = r.right - r.left, h = r.bottom - r.top;
  bool disabled = d.itemState & ODS_DISABLED;
  bool focused = (d.itemState & ODS_FOCUS) && !disabled;
  COLORREF face = GetSysColor(COLOR_BTNFACE);
  auto fill = [&](RECT rect, COLORREF c) {
    FillRect(dc, &rect, TScopedBrush(CreateSolidBrush(c)).Get());
  };
  auto frame = [&](RECT rect, COLORREF c) {
    FrameRect(dc, &rect, TScopedBrush(CreateSolidBrush(c)).Get());
  };
  COLORREF textColor;
  HFONT font = buttonFont_.Get();
  if (disabled) {
    fill(r, face);
    RECT inner = r;
    InflateRect(&inner, -2, -2);
    fill(inner, Shift(face, 16, 16, 16));
    textColor = Shift(face, -20, -20, -20);
  } else if (focused) {
    fill(r, GetSysColor(COLOR_WINDOWTEXT));
    COLORREF c = RGB(0, 0, 0);
    for (int y = h - 4; y >= 3; --y) {
      fill(RECT{3, y, w - 3, y + 1}, c);
      c = Shift(c, 6 - 3 * tint.step[0], 6 - 3 * tint.step[1], 6 - 3 * tint.step[2]);
    }
    frame(RECT{3, 3, w - 3, h - 3}, tint.frame);
    textColor = GetSysColor(COLOR_WINDOW);
  } else {
    frame(r, GetSysColor(COLOR_BTNSHADOW));
    RECT inner = r;
    InflateRect(&inner, -2, -2);
    fill(inner, face);
    COLORREF c = RGB(255, 255, 255);
    for (int y = 3; y < h - 3; ++y) {
      fill(RECT{3, y, w - 3, y + 1}, c);
      if ((y - 3) % 2 == 1) c = Shift(c, -tint.step[0], -tint.step[1], -tint.step[2]);
    }
    textColor = GetSysColor(COLOR_WINDOWTEXT);
    font = buttonBoldFont_.Get();
  }
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, textColor);
  HGDIOBJ old = SelectObject(dc, font);
  const std::string& caption = m_.items[static_cast<size_t>(index)].caption;
  DrawTextA(dc, caption.c_str(), -1, &r, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
  SelectObject(dc, old);
}

}  // namespace kestrix
