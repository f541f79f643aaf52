// A page on the screen: layout, the owner-drawn buttons and the page's own
// painting, edits and check boxes as system controls, and the modal loop
// with its keys (Escape, Tab, Enter) on the thread that shows it.
#include <windows.h>

#include <algorithm>

#include "report_ui/assistant/win/nv_form.h"

namespace kestrix {

namespace {

constexpr char kWindowClass[] = "KestrixNVForm";
constexpr int kFirstId = 100;
constexpr int kItemX = 21;
constexpr int kMessageSize = 15, kItemSize = 11;
constexpr UINT kRecheck = WM_APP;

struct TTint {
  COLORREF frame;
  int step[3];  // red, green, blue per row
};
const TTint kTints[3] = {{RGB(128, 160, 128), {2, 1, 2}}, {RGB(128, 128, 160), {2, 2, 1}}, {RGB(160, 128, 128), {1, 2, 2}}};

COLORREF Shift(COLORREF c, int r, int g, int b) {
  auto clamp = [](int v) { return std::clamp(v, 0, 255); };
  return RGB(clamp(GetRValue(c) + r), clamp(GetGValue(c) + g), clamp(GetBValue(c) + b));
}

HFONT MakeFont(const char* face, int points, bool bold) {
  HDC screen = GetDC(nullptr);
  int height = -MulDiv(points, GetDeviceCaps(screen, LOGPIXELSY), 72);
  ReleaseDC(nullptr, screen);
  return CreateFontA(height, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                     CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, face);
}

SIZE TextSize(HDC dc, HFONT font, const std::string& text) {
  HGDIOBJ old = SelectObject(dc, font);
  SIZE size{0, 0};
  GetTextExtentPoint32A(dc, text.empty() ? " " : text.c_str(), text.empty() ? 1 : static_cast<int>(text.size()), &size);
  if (text.empty()) size.cx = 0;
  SelectObject(dc, old);
  return size;
}

std::string WindowText(HWND w) {
  int length = GetWindowTextLengthA(w);
  std::string text(static_cast<size_t>(length) + 1, '\0');
  text.resize(static_cast<size_t>(GetWindowTextA(w, text.data(), length + 1)));
  return text;
}

}  // namespace

class TNVFormWindow {
 public:
  TNVFormWindow(TNVForm& form, HWND owner) : form_(form), m_(form.model_), owner_(owner) {}
  ~TNVFormWindow() {
    for (HFONT f : {messageFont_, itemFont_, buttonFont_, buttonBoldFont_})
      if (f) DeleteObject(f);
  }

  int Run();

 private:
  static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM w, LPARAM l);
  LRESULT Handle(UINT message, WPARAM w, LPARAM l);
  void Layout(HDC dc);
  void CreateWindows();
  void Paint(HDC dc);
  void DrawButton(const DRAWITEMSTRUCT& d);
  void Recheck();
  void Close(int result);
  void Clicked(int index);
  void MoveFocus(bool back);
  HWND ItemWindow(size_t i) const { return i < form_.itemWindows_.size() ? form_.itemWindows_[i] : nullptr; }
  int IndexOf(HWND control) const;

  TNVForm& form_;
  TFormModel& m_;
  HWND owner_;
  HWND window_ = nullptr;
  HFONT messageFont_ = nullptr, itemFont_ = nullptr, buttonFont_ = nullptr, buttonBoldFont_ = nullptr;
  int width_ = 0, height_ = 0, buttonY_ = 0;
  std::vector<RECT> rects_;  // per item, client coordinates
  std::vector<bool> heading_;
  std::vector<std::string> textsAtShow_;
  bool done_ = false;
};

int TNVFormWindow::IndexOf(HWND control) const {
  for (size_t i = 0; i < form_.itemWindows_.size(); ++i)
    if (form_.itemWindows_[i] == control) return static_cast<int>(i);
  return -1;
}

void TNVFormWindow::Layout(HDC dc) {
  size_t n = m_.items.size();
  rects_.assign(n, RECT{0, 0, 0, 0});
  heading_.assign(n, false);
  int buttonsWidth = 0, buttonHeight = 0;
  for (size_t i = 0; i < n; ++i) {
    const TFormItem& item = m_.items[i];
    if (item.itemClass != TFormItemClass::Button) continue;
    int w, h;
    if (item.noOwnerDraw) {
      int cw = TextSize(dc, itemFont_, item.caption).cx;
      w = cw < 55 ? 75 : cw + 20;
      h = 23;
    } else {
      int cw = TextSize(dc, buttonBoldFont_, item.caption).cx;
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
  int messageWidth = TextSize(dc, messageFont_, m_.message).cx;
  width_ = std::max({315, buttonsWidth + 32, m_.minWidth, messageWidth + form_.pageCount_ * 19 + 36});

  int textHeight = TextSize(dc, itemFont_, "Gg").cy;
  int y = 40, bottom = 40;
  for (size_t i = 3; i < n; ++i) {
    const TFormItem& item = m_.items[i];
    RECT r{kItemX, y, kItemX, y};
    switch (item.itemClass) {
      case TFormItemClass::Label: {
        RECT calc{0, 0, width_ - 2 * kItemX, 0};
        HGDIOBJ old = SelectObject(dc, itemFont_);
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
        SIZE s = TextSize(dc, itemFont_, item.caption);
        r.right = kItemX + s.cx + GetSystemMetrics(SM_CXMENUCHECK) + 8;
        r.bottom = y + std::max<int>(s.cy, GetSystemMetrics(SM_CYMENUCHECK));
        break;
      }
      case TFormItemClass::Image: {
        int frame = (item.clickable ? 6 : 0) + (item.border ? 2 : 0);
        int w = std::min(item.width > 0 ? item.width : 32, width_ - 42 - frame);
        int h = std::min(item.height > 0 ? item.height : 32, GetSystemMetrics(SM_CYSCREEN) / 3);
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

void TNVFormWindow::CreateWindows() {
  HINSTANCE instance = GetModuleHandleA(nullptr);
  form_.itemWindows_.assign(m_.items.size(), nullptr);
  for (size_t i = 0; i < m_.items.size(); ++i) {
    const TFormItem& item = m_.items[i];
    const RECT& r = rects_[i];
    HMENU id = reinterpret_cast<HMENU>(static_cast<INT_PTR>(kFirstId + i));
    HWND w = nullptr;
    switch (item.itemClass) {
      case TFormItemClass::Button:
        if (!item.visible) break;
        w = CreateWindowExA(0, "BUTTON", item.caption.c_str(),
                            WS_CHILD | WS_VISIBLE | WS_TABSTOP | (item.noOwnerDraw ? BS_PUSHBUTTON : BS_OWNERDRAW),
                            r.left, r.top, r.right - r.left, r.bottom - r.top, window_, id, instance, nullptr);
        break;
      case TFormItemClass::Edit: {
        DWORD style = WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL;
        if (item.lines > 1) style = WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | ES_MULTILINE | ES_WANTRETURN | ES_AUTOVSCROLL;
        w = CreateWindowExA(0, "EDIT", "", style, r.left + 2, r.top + 2, r.right - r.left - 4, r.bottom - r.top - 4,
                            window_, id, instance, nullptr);
        break;
      }
      case TFormItemClass::CheckBox:
        w = CreateWindowExA(0, "BUTTON", item.caption.c_str(), WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_CHECKBOX,
                            r.left, r.top, r.right - r.left, r.bottom - r.top, window_, id, instance, nullptr);
        break;
      default:
        break;  // labels and images are painted by the page
    }
    if (!w) continue;
    SendMessageA(w, WM_SETFONT, reinterpret_cast<WPARAM>(item.itemClass == TFormItemClass::Button && !item.noOwnerDraw
                                                              ? buttonFont_
                                                              : itemFont_),
                 FALSE);
    form_.itemWindows_[i] = w;
    if (item.itemClass == TFormItemClass::Edit) SetWindowTextA(w, item.text.c_str());
    if (item.itemClass == TFormItemClass::CheckBox) SendMessageA(w, BM_SETCHECK, item.checked ? BST_CHECKED : BST_UNCHECKED, 0);
    if (!item.enabled) EnableWindow(w, FALSE);
  }
}

void TNVFormWindow::Recheck() {
  if (HWND c = ItemWindow(0)) EnableWindow(c, m_.items[0].enabled && m_.ContinueAllowed());
}

void TNVFormWindow::Paint(HDC dc) {
  COLORREF face = GetSysColor(COLOR_BTNFACE);
  HBRUSH background = CreateSolidBrush(Shift(face, 8, 8, 8));
  RECT all{0, 0, width_, height_};
  FillRect(dc, &all, background);
  DeleteObject(background);
  RECT panel{8, 25, width_ - 8, buttonY_ - 10};
  HBRUSH faceBrush = CreateSolidBrush(face);
  FillRect(dc, &panel, faceBrush);
  DeleteObject(faceBrush);
  HBRUSH frame = CreateSolidBrush(Shift(face, -16, -16, -16));
  FrameRect(dc, &panel, frame);
  DeleteObject(frame);

  SetBkMode(dc, TRANSPARENT);
  HGDIOBJ old = SelectObject(dc, messageFont_);
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
        HBRUSH b = CreateSolidBrush(Shift(c, -2 * row, -2 * row, -2 * row));
        RECT line{x, 3 + row, x + 20, 4 + row};
        FillRect(dc, &line, b);
        DeleteObject(b);
      }
    }
    SelectObject(dc, current ? buttonBoldFont_ : buttonFont_);
    SetTextColor(dc, GetSysColor(current ? COLOR_WINDOWTEXT : COLOR_BTNSHADOW));
    RECT box{x, 3, x + 20, 23};
    DrawTextA(dc, number.c_str(), -1, &box, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
  }

  SelectObject(dc, itemFont_);
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
        HBRUSH b = CreateSolidBrush(GetSysColor(COLOR_BTNSHADOW));
        FrameRect(dc, &inner, b);
        DeleteObject(b);
      }
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
    HBRUSH b = CreateSolidBrush(c);
    FillRect(dc, &rect, b);
    DeleteObject(b);
  };
  auto frame = [&](RECT rect, COLORREF c) {
    HBRUSH b = CreateSolidBrush(c);
    FrameRect(dc, &rect, b);
    DeleteObject(b);
  };
  COLORREF textColor;
  HFONT font = buttonFont_;
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
    font = buttonBoldFont_;
  }
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, textColor);
  HGDIOBJ old = SelectObject(dc, font);
  const std::string& caption = m_.items[static_cast<size_t>(index)].caption;
  DrawTextA(dc, caption.c_str(), -1, &r, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
  SelectObject(dc, old);
}

void TNVFormWindow::Close(int result) {
  if (done_) return;
  KillTimer(window_, 1);
  form_.modalResult_ = result;
  for (size_t i = 0; i < m_.items.size(); ++i)
    if (HWND w = ItemWindow(i); w && m_.items[i].itemClass == TFormItemClass::Edit) m_.items[i].text = WindowText(w);
  if (result != nvmrContinue) {
    // Only Continue keeps what was typed.
    for (size_t i = 0; i < m_.items.size() && i < textsAtShow_.size(); ++i)
      if (m_.items[i].itemClass == TFormItemClass::Edit) m_.items[i].text = textsAtShow_[i];
  }
  form_.Fire(nvaClosed, nullptr);
  done_ = true;
  PostMessageA(window_, WM_NULL, 0, 0);  // wakes the modal loop
}

void TNVFormWindow::Clicked(int index) {
  TFormItem& item = m_.items[static_cast<size_t>(index)];
  if (item.itemClass == TFormItemClass::CheckBox) form_.SetItemChecked(index, !item.checked);
  KXPtr<INVItem> ref = form_.Item(index);
  form_.Fire(nvaEvent, ref.get());
  if (index < 3 && !done_) Close(index + 1);
}

void TNVFormWindow::MoveFocus(bool back) {
  std::vector<HWND> order;
  for (size_t i = 3; i < m_.items.size(); ++i)
    if (HWND w = ItemWindow(i)) order.push_back(w);
  for (size_t i = 0; i < 3; ++i)
    if (HWND w = ItemWindow(i)) order.push_back(w);
  if (order.empty()) return;
  auto at = std::find(order.begin(), order.end(), GetFocus());
  size_t pos = at == order.end() ? 0 : static_cast<size_t>(at - order.begin());
  for (size_t step = 0; step < order.size(); ++step) {
    pos = back ? (pos + order.size() - 1) % order.size() : (pos + 1) % order.size();
    if (IsWindowEnabled(order[pos]) && IsWindowVisible(order[pos])) {
      SetFocus(order[pos]);
      return;
    }
  }
}

LRESULT CALLBACK TNVFormWindow::Proc(HWND window, UINT message, WPARAM w, LPARAM l) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTA*>(l);
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    static_cast<TNVFormWindow*>(create->lpCreateParams)->window_ = window;
  }
  auto* self = reinterpret_cast<TNVFormWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (!self) return DefWindowProcA(window, message, w, l);
  try {
    return self->Handle(message, w, l);
  } catch (...) {
    return 0;  // nothing may leave a window procedure
  }
}

LRESULT TNVFormWindow::Handle(UINT message, WPARAM w, LPARAM l) {
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(window_, &ps);
      Paint(dc);
      EndPaint(window_, &ps);
      return 0;
    }
    case WM_ERASEBKGND:
      return 1;
    case WM_DRAWITEM:
      DrawButton(*reinterpret_cast<DRAWITEMSTRUCT*>(l));
      return TRUE;
    case WM_COMMAND: {
      int index = IndexOf(reinterpret_cast<HWND>(l));
      if (index < 0) return 0;
      if (HIWORD(w) == BN_CLICKED) {
        Clicked(index);
      } else if (HIWORD(w) == EN_CHANGE) {
        m_.items[static_cast<size_t>(index)].text = WindowText(reinterpret_cast<HWND>(l));
        KXPtr<INVItem> ref = form_.Item(index);
        form_.Fire(nvaEvent, ref.get());
        Recheck();
      }
      return 0;
    }
    case WM_CTLCOLOREDIT: {
      int index = IndexOf(reinterpret_cast<HWND>(l));
      HDC dc = reinterpret_cast<HDC>(w);
      COLORREF color = RGB(0, 0, 0);
      if (index >= 0 && m_.items[static_cast<size_t>(index)].colored)
        color = m_.items[static_cast<size_t>(index)].valid ? RGB(0, 128, 0) : RGB(128, 0, 0);
      SetTextColor(dc, color);
      SetBkColor(dc, GetSysColor(COLOR_WINDOW));
      return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
    }
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN: {
      HDC dc = reinterpret_cast<HDC>(w);
      SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
      return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
    }
    case WM_LBUTTONDOWN: {
      POINT p{static_cast<short>(LOWORD(l)), static_cast<short>(HIWORD(l))};
      for (size_t i = 3; i < m_.items.size(); ++i)
        if (m_.items[i].itemClass == TFormItemClass::Image && m_.items[i].clickable && PtInRect(&rects_[i], p)) {
          Clicked(static_cast<int>(i));
          break;
        }
      return 0;
    }
    case WM_SETCURSOR: {
      POINT p;
      GetCursorPos(&p);
      ScreenToClient(window_, &p);
      for (size_t i = 3; i < m_.items.size(); ++i)
        if (m_.items[i].itemClass == TFormItemClass::Image && m_.items[i].clickable && PtInRect(&rects_[i], p)) {
          SetCursor(LoadCursor(nullptr, IDC_HAND));
          return TRUE;
        }
      break;
    }
    case WM_TIMER:
      form_.Fire(nvaEvent, nullptr);
      return 0;
    case kRecheck:
      Recheck();
      return 0;
    case WM_CLOSE:
      Close(nvmrCancel);
      return 0;
    default:
      break;
  }
  return DefWindowProcA(window_, message, w, l);
}

int TNVFormWindow::Run() {
  HINSTANCE instance = GetModuleHandleA(nullptr);
  static ATOM registered = [instance] {
    WNDCLASSA c{};
    c.lpfnWndProc = Proc;
    c.hInstance = instance;
    c.hCursor = LoadCursor(nullptr, IDC_ARROW);
    c.lpszClassName = kWindowClass;
    return RegisterClassA(&c);
  }();
  (void)registered;
  messageFont_ = MakeFont("Arial", kMessageSize, true);
  itemFont_ = MakeFont("Tahoma", kItemSize, false);
  buttonFont_ = MakeFont("Arial", kMessageSize, false);
  buttonBoldFont_ = MakeFont("Arial", kMessageSize, true);

  HDC screen = GetDC(nullptr);
  Layout(screen);
  ReleaseDC(nullptr, screen);
  DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU;
  RECT frame{0, 0, width_, height_};
  AdjustWindowRectEx(&frame, style, FALSE, WS_EX_DLGMODALFRAME);
  int fw = frame.right - frame.left, fh = frame.bottom - frame.top;
  int x = (GetSystemMetrics(SM_CXSCREEN) - fw) / 2, y = (GetSystemMetrics(SM_CYSCREEN) - fh) / 2;
  std::string title = m_.title.empty() ? m_.name : m_.title;
  if (!CreateWindowExA(WS_EX_DLGMODALFRAME, kWindowClass, title.c_str(), style, x, y, fw, fh, owner_, nullptr,
                       instance, this))
    return nvmrCancel;
  form_.window_ = window_;
  CreateWindows();
  for (const TFormItem& item : m_.items) textsAtShow_.push_back(item.text);
  Recheck();

  HWND focus = nullptr;
  int active = m_.activeControl.empty() ? -1 : m_.Find(m_.activeControl);
  if (active >= 0) focus = ItemWindow(static_cast<size_t>(active));
  for (size_t i = 3; !focus && i < m_.items.size(); ++i)
    if (HWND w = ItemWindow(i); w && IsWindowEnabled(w)) focus = w;
  if (!focus) focus = ItemWindow(0);

  form_.Fire(nvaShowing, nullptr);
  ShowWindow(window_, SW_SHOW);
  ShowWindow(window_, SW_RESTORE);
  BringWindowToTop(window_);
  SetForegroundWindow(window_);
  if (focus && IsWindowEnabled(focus)) SetFocus(focus);
  if (m_.timer > 0) SetTimer(window_, 1, static_cast<UINT>(m_.timer), nullptr);

  MSG msg;
  while (!done_ && GetMessageA(&msg, nullptr, 0, 0) > 0) {
    bool ours = msg.hwnd == window_ || IsChild(window_, msg.hwnd);
    if (ours && msg.message == WM_KEYDOWN) {
      bool isEdit = IndexOf(msg.hwnd) >= 0 && m_.items[static_cast<size_t>(IndexOf(msg.hwnd))].itemClass == TFormItemClass::Edit;
      int index = IndexOf(msg.hwnd);
      if (msg.wParam == VK_ESCAPE) {
        if (HWND cancel = ItemWindow(2); cancel && IsWindowEnabled(cancel)) Clicked(2);
        continue;
      }
      if (msg.wParam == VK_TAB) {
        MoveFocus(GetKeyState(VK_SHIFT) < 0);
        continue;
      }
      if (msg.wParam == VK_RETURN && index >= 0) {
        const TFormItem& item = m_.items[static_cast<size_t>(index)];
        if (isEdit && item.lines > 1) {
          // a new line in a multi-line edit
        } else if (item.itemClass != TFormItemClass::Button) {
          MoveFocus(false);
          continue;
        }
      }
    }
    if (ours && (msg.message == WM_CHAR) && (msg.wParam == '\t' || msg.wParam == 27)) continue;
    if (ours && msg.message == WM_CHAR && msg.wParam == '\r') {
      int index = IndexOf(msg.hwnd);
      if (index >= 0 && !(m_.items[static_cast<size_t>(index)].itemClass == TFormItemClass::Edit &&
                          m_.items[static_cast<size_t>(index)].lines > 1))
        continue;  // no beep of single-line edits
    }
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  form_.window_ = nullptr;
  form_.itemWindows_.clear();
  DestroyWindow(window_);
  return form_.modalResult_ ? form_.modalResult_ : nvmrCancel;
}

int TNVForm::RunModal(HWND owner) {
  if (skipped_) {
    modalResult_ = nvmrSkip;
    return nvmrSkip;
  }
  modalResult_ = 0;
  bool ownerWasEnabled = owner && IsWindowEnabled(owner);
  if (owner) EnableWindow(owner, FALSE);
  int result;
  {
    KXPtr<TNVForm> keep(this);
    TNVFormWindow window(*this, owner);
    result = window.Run();
  }
  modalResult_ = result;
  ReleaseUserData();
  if (owner && ownerWasEnabled) {
    EnableWindow(owner, TRUE);
    SetActiveWindow(owner);
  }
  return result;
}

}  // namespace kestrix
