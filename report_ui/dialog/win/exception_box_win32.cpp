// TExceptionBox: creation, layout, the window procedure, resizing and the
// tabs of the details view.
#include "report_ui/dialog/win/exception_box_win32.h"

#include <algorithm>
#include <type_traits>

#include "crash/base/win/system_library.h"
#include "crash/handling/win/ending_win32.h"
#include "report_ui/dialog/win/dialog_state_win32.h"
#include "report_ui/views/win/tab_list_win32.h"

namespace kestrix {

namespace {

const char kClassName[] = "KestrixWndClass";
constinit TDialogState g_state;
static_assert(std::is_trivially_destructible_v<TDialogState>, "no destructor runs at the process's end");

std::string ExecutableTitle() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string name = path;
  name = name.substr(name.find_last_of("\\/") + 1);
  const size_t dot = name.rfind('.');
  return dot == std::string::npos ? name : name.substr(0, dot);
}

HFONT MakeFont(const char* face, int height) {
  return CreateFontA(-height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                     CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, face);
}

// Text in the dialog font: its width and height, wrapped at wrapWidth
// (0: one line). A word longer than the line (a path) is broken as an edit
// control breaks it, by the message's static control too.
int MeasureText(HWND window, HFONT font, const std::string& text, int wrapWidth, int& height) {
  TWindowDC dc(window);
  RECT r = {0, 0, wrapWidth > 0 ? wrapWidth : 10000, 0};
  {
    TSelectObject selected(dc.Get(), font);
    const UINT flags = DT_CALCRECT | (wrapWidth > 0 ? DT_WORDBREAK | DT_EDITCONTROL | DT_NOPREFIX : DT_SINGLELINE);
    DrawTextA(dc.Get(), text.c_str(), static_cast<int>(text.size()), &r, flags);
  }
  height = r.bottom - r.top;
  return r.right - r.left;
}

struct TMeasureContext {
  HWND window;
  HFONT font;
  const std::string* text;
};

int MeasureForLayout(void* context, int wrapWidth, int& height) {
  auto* c = static_cast<TMeasureContext*>(context);
  return MeasureText(c->window, c->font, *c->text, wrapWidth, height);
}

}  // namespace

TDialogState& DialogState() { return g_state; }

void SetExceptionBoxHook(void (*hook)(HWND, bool)) { g_state.boxHook = hook; }
void SetFreezeDialogSink(void (*sink)(HWND)) { g_state.freezeSink = sink; }

TExceptionBox::TExceptionBox(TIKXException* exception, bool beep, bool detailsAllowed, bool messageBox)
    : e_(exception), messageBox_(messageBox), detailsAllowed_(detailsAllowed) {
  LoadTabControls();
  using TImageListCreate = HIMAGELIST(WINAPI*)(int, int, UINT, int, int);
  if (auto create = SystemFunctionAs<TImageListCreate>("comctl32.dll", "ImageList_Create"))
    images_ = create(16, 16, ILC_COLOR32 | ILC_MASK, 0, 1);
  TIKXException* e = e_.get();
  const bool full = !messageBox_;
  // The details view is the full dialog created while AutoShowBugRep is on.
  if (full && e->AutoShowBugRep()) {
    e->SetShowBtnVis(false);
    detailsView_ = true;
  }
  ugly_ = full && e->UglyBtns();
  ChooseAutoButton(full);

  // The message and the title.
  const bool freeze = e->ExceptionKind() == etFreeze;
  const std::string exceptionMessage = BreakMessageLines(e->ExceptionMessageText());
  std::string text, title;
  if (full) {
    text = e->ExpandText(e->GetRawTextSetting(freeze ? "FrozenMsg" : "ExceptMsg"), exceptionMessage);
    title = e->TitleBar();
  } else {
    text = freeze ? e->ExpandText(e->GetRawTextSetting("FrozenMsg"), exceptionMessage) : exceptionMessage;
    title = ExecutableTitle();
  }

  WNDCLASSA wc{};
  wc.style = CS_CLASSDC | CS_PARENTDC;
  wc.lpfnWndProc = DefWindowProcA;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = kClassName;
  RegisterClassA(&wc);
  DWORD style = WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
  if (detailsView_) style |= WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX;
  const DWORD exStyle = WS_EX_DLGMODALFRAME | WS_EX_TOPMOST;
  window_ = CreateWindowExA(exStyle, kClassName, title.c_str(), style, 100, 100, 0, 0, nullptr, nullptr,
                            GetModuleHandleA(nullptr), nullptr);
  if (!window_) return;
  SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  SetWindowLongPtrA(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(WindowProc));
  if (!detailsView_) {
    HMENU menu = GetSystemMenu(window_, FALSE);
    for (UINT item : {SC_MAXIMIZE, SC_SIZE, SC_MINIMIZE, SC_RESTORE}) DeleteMenu(menu, item, MF_BYCOMMAND);
  }
  CreateFonts();

  // Visible buttons and their widths.
  TDialogLayoutInput in;
  in.messageBox = messageBox_;
  in.detailsAllowed = detailsAllowed_;
  in.detailsView = detailsView_;
  in.ugly = ugly_;
  HMODULE pictures = GetModuleHandleA(nullptr);
  in.picture = FindResourceA(pictures, ButtonPictureName(dbBig), MAKEINTRESOURCEA(2)) != nullptr;
  const bool visible[kDialogButtons] = {
      full && e->SendBtnVis(),  full && e->SaveBtnVis(), full && e->PrintBtnVis(),
      (full && e->ShowBtnVis()) || (messageBox_ && detailsAllowed_),
      messageBox_ || e->ContinueBtnVis(), full && e->RestartBtnVis(), full && e->CloseBtnVis()};
  const std::string captions[kDialogButtons] = {
      e->SendBtnTxt(), e->SaveBtnTxt(), e->PrintBtnTxt(), messageBox_ ? e->DetailsBtnTxt() : e->ShowBtnTxt(),
      messageBox_ ? e->OkBtnTxt() : e->ContinueBtnTxt(), e->RestartBtnTxt(), e->CloseBtnTxt()};
  for (int i = 0; i < kDialogButtons; ++i) {
    if (!visible[i]) continue;
    int h = 0;
    in.widths[i] = MeasureText(window_, font_.Get(), captions[i].substr(0, 30), 0, h) + 39;
  }
  TMeasureContext measure{window_, font_.Get(), &text};
  in.measureText = MeasureForLayout;
  in.context = &measure;
  in.screenWidth = GetSystemMetrics(SM_CXSCREEN);
  in.screenHeight = GetSystemMetrics(SM_CYSCREEN);
  in.captionHeight = GetSystemMetrics(SM_CYCAPTION);
  const TDialogLayout layout = LayoutExceptionDialog(in);
  buttonHeight_ = layout.buttonHeight;
  separatorY_ = layout.separatorY;
  clientWidth_ = layout.clientWidth;

  // The off-screen surface the buttons are composed on.
  memWidth_ = std::max(1, std::max({in.widths[0], in.widths[1], in.widths[2], in.widths[3], in.widths[4],
                                    in.widths[5], in.widths[6], layout.rightColumnWidth}));
  memDC_.Reset(CreateCompatibleDC(TWindowDC(nullptr).Get()));
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof bi.bmiHeader;
  bi.bmiHeader.biWidth = memWidth_;
  bi.bmiHeader.biHeight = -buttonHeight_;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  memBitmap_.Reset(CreateDIBSection(memDC_.Get(), &bi, DIB_RGB_COLORS, &bits, nullptr, 0));
  memPixels_ = static_cast<uint32_t*>(bits);
  if (memBitmap_.Get()) memOldBitmap_ = SelectObject(memDC_.Get(), memBitmap_.Get());
  memOldFont_ = SelectObject(memDC_.Get(), font_.Get());
  SetBkMode(memDC_.Get(), TRANSPARENT);

  // The message, the picture, the buttons.
  message_ = CreateWindowExA(0, "STATIC", text.c_str(), WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX | SS_EDITCONTROL,
                             layout.message.x, layout.message.y, layout.message.w, layout.message.h, window_,
                             reinterpret_cast<HMENU>(0xFFFF), GetModuleHandleA(nullptr), nullptr);
  SendMessageA(message_, WM_SETFONT, reinterpret_cast<WPARAM>(font_.Get()), FALSE);
  if (in.picture) {
    picture_ = CreateWindowExA(0, "BUTTON", "", WS_CHILD | WS_VISIBLE | WS_DISABLED | BS_OWNERDRAW,
                               layout.picture.x, layout.picture.y, 32, 32, window_, nullptr,
                               GetModuleHandleA(nullptr), nullptr);
    SetWindowLongPtrA(picture_, GWLP_USERDATA, dbBig);
  }
  for (int i = 0; i < kDialogButtons; ++i) {
    if (!visible[i]) continue;
    const TRect& r = layout.buttons[i];
    const DWORD kind = messageBox_ ? BS_PUSHBUTTON : BS_OWNERDRAW;
    buttons_[i] = CreateWindowExA(0, "BUTTON", captions[i].substr(0, 30).c_str(), WS_CHILD | WS_VISIBLE | WS_TABSTOP | kind,
                                  r.x, r.y, r.w, r.h, window_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(100 + i)),
                                  GetModuleHandleA(nullptr), nullptr);
    SetWindowLongPtrA(buttons_[i], GWLP_USERDATA, i);
    SendMessageA(buttons_[i], WM_SETFONT, reinterpret_cast<WPARAM>(font_.Get()), FALSE);
    if (!messageBox_) {
      buttonProc_ = reinterpret_cast<WNDPROC>(
          SetWindowLongPtrA(buttons_[i], GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ButtonProc)));
    }
  }
  // The default button: FocusedBtn (OK in the message box).
  const int wanted = messageBox_ ? static_cast<int>(dbContinue) : (e->FocusedBtn() & 127);
  if (wanted >= 0 && wanted < kDialogButtons && buttons_[wanted]) {
    if (messageBox_) SendMessageA(buttons_[wanted], BM_SETSTYLE, BS_DEFPUSHBUTTON, TRUE);
    focused_ = wanted;
    fade_[wanted] = fadeTarget_[wanted] = 8;
  }
  if (buttons_[dbContinue] && !CanContinue() && (buttons_[dbRestart] || buttons_[dbClose])) {
    EnableWindow(buttons_[dbContinue], FALSE);
    SetWindowLongPtrA(buttons_[dbContinue], GWLP_USERDATA, dbCantContinue);
  }

  // The window's size: the content plus caption and frame, centred.
  RECT outer = {0, 0, layout.clientWidth, layout.contentHeight};
  AdjustWindowRectEx(&outer, style, FALSE, exStyle);
  const int ww = outer.right - outer.left, wh = outer.bottom - outer.top;
  minSize_ = {ww, wh};
  SetWindowPos(window_, nullptr, (in.screenWidth - ww) / 2, (in.screenHeight - wh) / 2, ww, wh,
               SWP_NOZORDER | SWP_NOACTIVATE);

  if (detailsView_) {
    tabs_ = CreateWindowExA(0, WC_TABCONTROLA, "", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_TABSTOP,
                            layout.tabs.x, layout.tabs.y, layout.tabs.w, layout.tabs.h, window_, nullptr,
                            GetModuleHandleA(nullptr), nullptr);
    SendMessageA(tabs_, WM_SETFONT, reinterpret_cast<WPARAM>(font_.Get()), FALSE);
    InstallTabListDrawing(tabs_, &model_, font_.Get());
    SyncTabs();
    RefreshCurrentTab();
  }
  if (autoButton_ >= 0 && !buttons_[autoButton_]) autoButton_ = -1;
  if (autoButton_ >= 0 && full) {
    countStart_ = GetTickCount();
    if (!countStart_) countStart_ = 1;
    SetTimer(window_, kCountDownTimer, 10, nullptr);
  }
  if (g_state.boxHook) g_state.boxHook(window_, messageBox_);
  if (beep) MessageBeep(MB_ICONHAND);
  ShowWindow(window_, SW_SHOW);
  if (IsIconic(window_)) ShowWindow(window_, SW_RESTORE);
  BringWindowToTop(window_);
  SetForegroundWindow(window_);
  if (freeze && g_state.freezeSink) g_state.freezeSink(window_);
  // A FocusedBtn that names a hidden button focuses none: the window keeps
  // the focus, Tab reaches the buttons.
  SetFocus(focused_ >= 0 ? buttons_[focused_] : window_);
  // The listener is handed the window, not the box: a call already on its
  // way when the box goes only posts to a window that is gone.
  e->AddReportListener(&TExceptionBox::OnReportChanged, window_, false);
  listening_ = true;
}

TExceptionBox::~TExceptionBox() {
  if (listening_) e_->RemoveReportListener(&TExceptionBox::OnReportChanged, window_);
  if (window_ && IsWindow(window_)) {
    SetWindowLongPtrA(window_, GWLP_USERDATA, 0);
    DestroyWindow(window_);
  }
  if (images_) {
    using TImageListDestroy = BOOL(WINAPI*)(HIMAGELIST);
    if (auto destroy = SystemFunctionAs<TImageListDestroy>("comctl32.dll", "ImageList_Destroy")) destroy(images_);
  }
  if (memDC_) {
    if (memOldFont_) SelectObject(memDC_.Get(), memOldFont_);
    if (memOldBitmap_) SelectObject(memDC_.Get(), memOldBitmap_);
    memDC_.Reset();
  }
  memBitmap_.Reset();  // the fonts go with the members
}

bool TExceptionBox::CanContinue() { return e_->ContinueAllowed(); }

bool TExceptionBox::AutoDue(int32_t value) { return AutoActionDue(value); }

void TExceptionBox::ChooseAutoButton(bool full) {
  TIKXException* e = e_.get();
  if (AutoDue(e->AutoClose()) && e->CloseBtnVis()) {
    e->SetFocusedBtn(dbClose);
    if (full) autoButton_ = dbClose;
  } else if (AutoDue(e->AutoRestart()) && e->RestartBtnVis()) {
    e->SetFocusedBtn(dbRestart);
    if (full) autoButton_ = dbRestart;
  } else if (e->AutoContinue() && e->ContinueBtnVis() && CanContinue()) {
    e->SetFocusedBtn(dbContinue);
    if (full) autoButton_ = dbContinue;
  }
}

void TExceptionBox::CreateFonts() {
  font_.Reset(MakeFont("Tahoma", 11));
  if (!font_.Get()) font_.Reset(MakeFont("MS Sans Serif", 12));
  fixedFont_.Reset(MakeFont("Courier New", 11));
  smallFont_.Reset(MakeFont("Small Fonts", 8));
}

int TExceptionBox::IndexOf(HWND button) const {
  for (int i = 0; i < kDialogButtons; ++i)
    if (buttons_[i] && buttons_[i] == button) return i;
  return -1;
}

void TExceptionBox::OnReportChanged(void* window, bool, const std::string&, IKXException*) {
  PostMessageA(static_cast<HWND>(window), kReportChangedMessage, kReportChangedW, kReportChangedL);
}

// --- tabs ----------------------------------------------------------------------

namespace {

views::TSectionList FieldsOf(const KXPtr<IKXFields>& fields) {
  views::TSectionList list;
  if (!fields) return list;
  fields->Lock();
  for (int i = 0; i < fields->ItemCount(); ++i) list.emplace_back(fields->Name(i), fields->ContentAt(i));
  fields->Unlock();
  return list;
}

}  // namespace

void TExceptionBox::SyncTabs() {
  if (!tabs_ || shuttingDown_) return;
  SyncTabControl(tabs_, views::TabNames(FieldsOf(e_->ReportSections())));
  if (SendMessageA(tabs_, TCM_GETCURSEL, 0, 0) < 0) SendMessageA(tabs_, TCM_SETCURSEL, 0, 0);
}

void TExceptionBox::RefreshCurrentTab(bool noTab) {
  if (!tabs_) return;
  const int tab = noTab ? -1 : static_cast<int>(SendMessageA(tabs_, TCM_GETCURSEL, 0, 0));
  std::string name, text;
  if (tab >= 0) text = views::TabText(tab, FieldsOf(e_->ReportHeader()), FieldsOf(e_->ReportSections()), &name);
  if (tab == currentTab_ && text == currentText_) return;
  if (content_) {
    DestroyWindow(content_);
    content_ = nullptr;
  }
  model_.Clear();
  currentTab_ = tab;
  currentText_ = text;
  if (tab < 0) return;
  views::BuildTab(tab, name, text, model_);
  if (model_.ShowsList()) content_ = ShowTabList(tabs_, model_, font_.Get(), fixedFont_.Get(), images_);
  if (!content_) {
    model_.Clear();
    content_ = ShowTabText(tabs_, text, font_.Get());
  }
}

// --- window procedure ---------------------------------------------------------------

LRESULT CALLBACK TExceptionBox::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* box = reinterpret_cast<TExceptionBox*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (!box) return DefWindowProcA(window, message, wParam, lParam);
  try {
    return box->Handle(message, wParam, lParam);
  } catch (...) {
    // Nothing may leave a window procedure; the dialog goes on.
    return DefWindowProcA(window, message, wParam, lParam);
  }
}

LRESULT CALLBACK TExceptionBox::ButtonProc(HWND button, UINT message, WPARAM wParam, LPARAM lParam) {
  HWND parent = GetParent(button);
  auto* box = reinterpret_cast<TExceptionBox*>(GetWindowLongPtrA(parent, GWLP_USERDATA));
  WNDPROC old = box ? box->buttonProc_ : nullptr;
  if (box) {
    if (message == WM_SETFOCUS || message == WM_KILLFOCUS) {
      const int index = box->IndexOf(button);
      if (message == WM_SETFOCUS) {
        if (box->focused_ != index) box->StopCountDown();
        box->FocusChanged(index);
      } else if (box->focused_ == index) {
        box->FocusChanged(-1);
      }
    }
    // Owner-drawn buttons would draw a double click as nothing.
    if (message == WM_LBUTTONDBLCLK) message = WM_LBUTTONDOWN;
  }
  return old ? CallWindowProcA(old, button, message, wParam, lParam) : DefWindowProcA(button, message, wParam, lParam);
}

LRESULT TExceptionBox::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_NULL:
      if (wParam == kWatchdogCloseParam && lParam == static_cast<LPARAM>(kWatchdogCloseParam)) Shutdown();
      return 0;
    case kReportChangedMessage:
      if (wParam == kReportChangedW && lParam == kReportChangedL && !shuttingDown_) {
        SyncTabs();
        RefreshCurrentTab();
      }
      return 0;
    case WM_TIMER:
      if (wParam == kCountDownTimer) StepCountDown();
      if (wParam == kFadeTimer) StepFades();
      return 0;
    case WM_COMMAND: {
      HWND from = reinterpret_cast<HWND>(lParam);
      if (!from && LOWORD(wParam) == IDOK) from = GetFocus();  // Enter
      if (!from && LOWORD(wParam) == IDCANCEL) {
        Close();
        return 0;
      }
      const int index = IndexOf(from);
      if (index >= 0 && (HIWORD(wParam) == BN_CLICKED || !lParam)) Click(index);
      return 0;
    }
    case WM_DRAWITEM: {
      const auto* d = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
      if (d->CtlType != ODT_BUTTON) break;
      const int index = d->hwndItem == picture_ ? static_cast<int>(dbBig) : IndexOf(d->hwndItem);
      if (index < 0) break;
      if (index == dbBig) {
        HDC dc = d->hDC;
        BITMAPINFO bi{};
        bi.bmiHeader = {sizeof bi.bmiHeader, 32, -32, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
        uint32_t pixels[32 * 32];
        const COLORREF face = GetSysColor(COLOR_BTNFACE);
        const uint32_t bg = GetRValue(face) << 16 | GetGValue(face) << 8 | GetBValue(face);
        std::fill(std::begin(pixels), std::end(pixels), bg);
        DrawPicture(dbBig, pixels, 32, 0, 0, 32);
        SetDIBitsToDevice(dc, 0, 0, 32, 32, 0, 0, 0, 32, pixels, &bi, DIB_RGB_COLORS);
        return TRUE;
      }
      if (d->itemState & ODS_SELECTED) {
        if (press_[index] == 0 && pressTarget_[index] == 0) press_[index] = 8;
      } else if (press_[index] == 8 && pressTarget_[index] == 0 && !pressReturns_[index]) {
        press_[index] = 0;
      }
      DrawButton(index, d->hDC);
      return TRUE;
    }
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(window_, &ps);
      PaintSeparator(dc);
      EndPaint(window_, &ps);
      return 0;
    }
    case WM_MOUSEMOVE: {
      const POINT p = {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
      const bool over = PtInRect(&link_, p);
      if (over != linkHover_) {
        linkHover_ = over;
        InvalidateRect(window_, &link_, TRUE);
        if (over) {
          TRACKMOUSEEVENT t{sizeof t, TME_LEAVE, window_, 0};
          TrackMouseEvent(&t);
        }
      }
      return 0;
    }
    case WM_MOUSELEAVE:
      if (linkHover_) {
        linkHover_ = false;
        InvalidateRect(window_, &link_, TRUE);
      }
      return 0;
    case WM_SETCURSOR:
      if (linkHover_ && reinterpret_cast<HWND>(wParam) == window_) {
        SetCursor(LoadCursorA(nullptr, MAKEINTRESOURCEA(32649)));  // IDC_HAND
        return TRUE;
      }
      break;
    case WM_LBUTTONDOWN: {
      const POINT p = {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
      if (PtInRect(&link_, p)) {
        using TShellExecute = HINSTANCE(WINAPI*)(HWND, LPCSTR, LPCSTR, LPCSTR, LPCSTR, INT);
        SetWindowPos(window_, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
        if (auto open = SystemFunctionAs<TShellExecute>("shell32.dll", "ShellExecuteA"))
          open(window_, "open", LinkLabelTarget().c_str(), nullptr, nullptr, SW_SHOWNORMAL);
      }
      return 0;
    }
    case WM_NOTIFY: {
      const auto* n = reinterpret_cast<const NMHDR*>(lParam);
      if (n->hwndFrom == tabs_ && n->code == TCN_SELCHANGE) RefreshCurrentTab();
      return 0;
    }
    case WM_GETMINMAXINFO:
      if (minSize_.cx) reinterpret_cast<MINMAXINFO*>(lParam)->ptMinTrackSize = {minSize_.cx, minSize_.cy};
      return 0;
    case WM_SIZE:
      if (detailsView_ && wParam != SIZE_MINIMIZED) Resize(LOWORD(lParam), HIWORD(lParam));
      return 0;
    case WM_CLOSE:
      Close();
      return 0;
    case WM_DESTROY:
      KillTimer(window_, kCountDownTimer);
      KillTimer(window_, kFadeTimer);
      break;
  }
  return DefWindowProcA(window_, message, wParam, lParam);
}

void TExceptionBox::Resize(int width, int height) {
  if (!clientWidth_) return;
  const int dx = width - clientWidth_;
  if (dx) {
    for (int b : {dbContinue, dbRestart, dbClose}) {
      if (!buttons_[b]) continue;
      RECT r;
      GetWindowRect(buttons_[b], &r);
      MapWindowPoints(nullptr, window_, reinterpret_cast<POINT*>(&r), 2);
      SetWindowPos(buttons_[b], nullptr, r.left + dx, r.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    }
    clientWidth_ = width;
  }
  if (tabs_) {
    RECT r;
    GetWindowRect(tabs_, &r);
    MapWindowPoints(nullptr, window_, reinterpret_cast<POINT*>(&r), 2);
    SetWindowPos(tabs_, nullptr, 0, 0, std::max(TabControlWidth(width), 40), std::max(height - static_cast<int>(r.top) - 5, 40),
                 SWP_NOMOVE | SWP_NOZORDER);
    if (content_) {
      const RECT c = TabContentRect(tabs_);
      SetWindowPos(content_, nullptr, c.left, c.top, c.right - c.left, c.bottom - c.top, SWP_NOZORDER);
    }
  }
  InvalidateRect(window_, nullptr, TRUE);
}

}  // namespace kestrix
