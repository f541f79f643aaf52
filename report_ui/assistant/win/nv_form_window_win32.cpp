// A page on the screen: edits and check boxes as system controls, the
// events of items and buttons, and the modal loop with its keys (Escape,
// Tab, Enter) on the thread that shows it.
#include "report_ui/assistant/win/nv_form_window.h"

namespace kestrix {

using namespace nvform;

int TNVFormWindow::IndexOf(HWND control) const {
  for (size_t i = 0; i < form_.itemWindows_.size(); ++i)
    if (form_.itemWindows_[i] == control) return static_cast<int>(i);
  return -1;
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
                                                              ? buttonFont_.Get()
                                                              : itemFont_.Get()),
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

void TNVFormWindow::MoveFocus(HWND from, bool back) {
  std::vector<HWND> order;
  for (size_t i = 3; i < m_.items.size(); ++i)
    if (HWND w = ItemWindow(i)) order.push_back(w);
  for (size_t i = 0; i < 3; ++i)
    if (HWND w = ItemWindow(i)) order.push_back(w);
  if (order.empty()) return;
  auto at = std::find(order.begin(), order.end(), from);
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
    case kImageChanged: {
      // A new picture in the box the page was laid out with.
      const size_t i = w;
      if (i < 3 || i >= m_.items.size() || m_.items[i].itemClass != TFormItemClass::Image) return 0;
      RECT r = rects_[i];
      const int frame = ImageFrame(i);
      FitImage(i, r.right - r.left - 2 * frame, r.bottom - r.top - 2 * frame);
      InvalidateRect(window_, &r, FALSE);
      return 0;
    }
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
  // Registered by the first form; later registrations fail and change
  // nothing.
  WNDCLASSA c{};
  c.lpfnWndProc = Proc;
  c.hInstance = instance;
  c.hCursor = LoadCursor(nullptr, IDC_ARROW);
  c.lpszClassName = kWindowClass;
  RegisterClassA(&c);
  messageFont_.Reset(MakeFont("Arial", kMessageSize, true));
  itemFont_.Reset(MakeFont("Tahoma", kItemSize, false));
  buttonFont_.Reset(MakeFont("Arial", kMessageSize, false));
  buttonBoldFont_.Reset(MakeFont("Arial", kMessageSize, true));

  Layout(TWindowDC(nullptr).Get());
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
        MoveFocus(msg.hwnd, GetKeyState(VK_SHIFT) < 0);
        continue;
      }
      if (msg.wParam == VK_RETURN && index >= 0) {
        const TFormItem& item = m_.items[static_cast<size_t>(index)];
        if (isEdit && item.lines > 1) {
          // a new line in a multi-line edit
        } else if (item.itemClass == TFormItemClass::Button) {
          // Enter presses the focused button, as in a dialog.
          if (IsWindowEnabled(msg.hwnd)) Clicked(index);
          continue;
        } else {
          MoveFocus(msg.hwnd, false);
          continue;
        }
      }
      // Arrow keys move between the items, except inside an edit.
      if (!isEdit && index >= 0 &&
          (msg.wParam == VK_LEFT || msg.wParam == VK_UP || msg.wParam == VK_RIGHT || msg.wParam == VK_DOWN)) {
        MoveFocus(msg.hwnd, msg.wParam == VK_LEFT || msg.wParam == VK_UP);
        continue;
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
