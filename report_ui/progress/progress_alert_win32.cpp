// TIProgressAlert: the progress window on plain windows of the system.
#include <windows.h>
#include <commctrl.h>

#include <cstring>
#include <vector>

#include "crash/base/win/scoped_gdi.h"
#include "crash/base/win/system_library.h"
#include "report_ui/progress/progress_alert.h"
#include "report_ui/progress/progress_layout.h"

namespace kestrix {

namespace {

const char kClassName[] = "prgrAlertWndClass";
const char kClosableProp[] = "KxPrgrClosable";

HINSTANCE CodeModule() {
  HMODULE module = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                         GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCSTR>(&CodeModule), &module);
  return module;
}

bool OwnedByCallingThread(HWND window) {
  return window && GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId();
}

class TIProgressAlert final : public IProgressAlert, public TKXRefCounted {
 public:
  TIProgressAlert(const std::string& title, HMODULE pictureModule, const std::string& pictureName)
      : title_(title), pictureModule_(pictureModule), pictureName_(pictureName) {}

  KX_IMPLEMENT_REFCOUNT
  bool QueryInterface(const KXIID& iid, void** out) override {
    if (iid != IID) return false;
    AddRef();
    *out = static_cast<IProgressAlert*>(this);
    return true;
  }

  std::string WindowTitle() override { return title_; }
  void SetWindowTitle(const std::string& title) override {
    title_ = title;
    if (HWND w = window_) SetWindowTextA(w, title_.c_str());
  }
  int AreaPosition() override { return position_; }
  void SetAreaPosition(int position) override;
  void AppendArea(const std::string& text, int64_t weight) override { areas_.Append(text, weight); }
  void RemoveAreas() override {
    areas_.Clear();
    active_ = 0;
  }
  void FinishArea() override { SetActiveArea(active_ + 1); }
  int ActiveArea() override { return active_; }
  void SetActiveArea(int index) override;
  void PumpMessages() override;
  bool OpenWindow(HWND owner, bool activate) override;
  void CloseWindow() override;

  void Windows(TProgressWindows& w) const { w = {window_, picture_, label_, bar_}; }
  // Draws the picture into the owner-drawn button.
  void DrawPicture(HDC dc);

 private:
  ~TIProgressAlert() override {
    CloseWindow();
    if (dc_ && previousFont_) SelectObject(dc_.Get(), previousFont_);
    dc_.Reset();  // before the font, which it may hold selected
  }
  bool PrepareFont();
  SIZE MeasureLabel();
  bool HasPicture() const;

  HWND owner_ = nullptr;
  std::string title_;
  TScopedMemoryDC dc_;
  TScopedFont font_;
  HGDIOBJ previousFont_ = nullptr;
  HWND window_ = nullptr, picture_ = nullptr, label_ = nullptr, bar_ = nullptr;
  TProgressAreas areas_;
  int active_ = 0;
  int position_ = 0;
  HMODULE pictureModule_;
  std::string pictureName_;
};

LRESULT CALLBACK ProgressWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CLOSE:
      // Only CloseWindow may close it; the user cannot.
      if (!GetPropA(window, kClosableProp)) return 0;
      break;
    case WM_DRAWITEM: {
      auto* item = reinterpret_cast<DRAWITEMSTRUCT*>(lParam);
      auto* alert = reinterpret_cast<TIProgressAlert*>(GetWindowLongPtrA(item->hwndItem, GWLP_USERDATA));
      if (!alert) break;
      try {
        alert->DrawPicture(item->hDC);
        return TRUE;
      } catch (...) {
        break;  // no picture, default drawing; a window has no report to tell
      }
    }
    case WM_NCDESTROY:
      RemovePropA(window, kClosableProp);
      break;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

bool TIProgressAlert::HasPicture() const {
  return pictureModule_ && !pictureName_.empty() &&
         FindResourceA(pictureModule_, pictureName_.c_str(), MAKEINTRESOURCEA(2) /* RT_BITMAP */);
}

void TIProgressAlert::DrawPicture(HDC dc) {
  HRSRC info = FindResourceA(pictureModule_, pictureName_.c_str(), MAKEINTRESOURCEA(2));
  if (!info || SizeofResource(pictureModule_, info) != kPictureResourceSize) return;
  HGLOBAL handle = LoadResource(pictureModule_, info);
  auto* data = static_cast<const unsigned char*>(handle ? LockResource(handle) : nullptr);
  if (!data) return;
  BITMAPINFOHEADER header;
  std::memcpy(&header, data, sizeof header);
  std::vector<uint32_t> pixels(32 * 32);
  std::memcpy(pixels.data(), data + 40, pixels.size() * 4);
  COLORREF face = GetSysColor(COLOR_BTNFACE);  // 0x00BBGGRR
  uint32_t faceRGB = GetRValue(face) << 16 | GetGValue(face) << 8 | GetBValue(face);
  for (uint32_t& p : pixels) p = BlendPicturePixel(p, faceRGB);
  BITMAPINFO bitmap{};
  bitmap.bmiHeader = header;
  bitmap.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  SetDIBitsToDevice(dc, 0, 0, 32, 32, 0, 0, 0, 32, pixels.data(), &bitmap, DIB_RGB_COLORS);
}

void TIProgressAlert::SetAreaPosition(int position) {
  position_ = position;
  HWND bar = bar_;
  if (!bar) return;
  int value = areas_.BarValue(active_, position_);
  if (value < 0) return;
  if (OwnedByCallingThread(bar)) {
    SendMessageA(bar, PBM_SETPOS, static_cast<WPARAM>(value), 0);
    PumpMessages();
  } else {
    PostMessageA(bar, PBM_SETPOS, static_cast<WPARAM>(value), 0);
  }
}

void TIProgressAlert::SetActiveArea(int index) {
  int count = areas_.Count();
  if (index == active_ || index < 0 || index > count) return;
  if (index == count) {
    active_ = count - 1;
    SetAreaPosition(1000);  // all work done
  } else {
    active_ = index;
    SetAreaPosition(0);
  }
  if (HWND label = label_; label && active_ >= 0 && active_ < count)
    SetWindowTextA(label, areas_[active_].text.c_str());
}

void TIProgressAlert::PumpMessages() {
  if (!OwnedByCallingThread(window_)) return;
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      // Not ours to eat: leave it for the thread's own loop.
      PostQuitMessage(static_cast<int>(message.wParam));
      return;
    }
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

bool TIProgressAlert::PrepareFont() {
  if (dc_) return true;
  font_.Reset(CreateFontA(-11, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                          CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, "Tahoma"));
  if (!font_)
    font_.Reset(CreateFontA(-12, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                            CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, "MS Sans Serif"));
  dc_.Reset(CreateCompatibleDC(nullptr));
  if (dc_ && font_) previousFont_ = SelectObject(dc_.Get(), font_.Get());
  return dc_.Valid();
}

SIZE TIProgressAlert::MeasureLabel() {
  SIZE size{0, 0};
  for (int i = active_; i < areas_.Count(); ++i) {
    RECT box{0, 0, kProgressTextWidth, 0};
    const std::string& text = areas_[i].text;
    DrawTextA(dc_.Get(), text.c_str(), static_cast<int>(text.size()), &box, DT_CALCRECT | DT_WORDBREAK);
    size.cx = std::max<LONG>(size.cx, box.right - box.left);
    size.cy = std::max<LONG>(size.cy, box.bottom - box.top);
  }
  return size;
}

bool TIProgressAlert::OpenWindow(HWND owner, bool activate) {
  if (window_) return false;
  owner_ = owner;
  if (owner_) EnableWindow(owner_, FALSE);
  if (areas_.Count() == 0) AppendArea("Please wait...", 1000);
  if (active_ >= areas_.Count()) active_ = areas_.Count() - 1;

  HINSTANCE instance = CodeModule();
  WNDCLASSA wc{};
  wc.lpfnWndProc = ProgressWndProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = kClassName;
  RegisterClassA(&wc);  // fails harmlessly when the class exists

  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS};
  using TInitCommonControlsEx = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
  if (auto init = SystemFunctionAs<TInitCommonControlsEx>("comctl32.dll", "InitCommonControlsEx")) init(&controls);

  window_ = CreateWindowExA(WS_EX_TOPMOST | WS_EX_TOOLWINDOW | WS_EX_DLGMODALFRAME, kClassName,
                            title_.c_str(), WS_CAPTION, 0, 0, 0, 0, owner_, nullptr, instance, nullptr);
  if (!window_) {
    if (owner_) EnableWindow(owner_, TRUE);
    return false;
  }
  if (HMENU menu = GetSystemMenu(window_, FALSE)) {
    for (UINT command : {SC_MINIMIZE, SC_MAXIMIZE, SC_RESTORE, SC_SIZE})
      DeleteMenu(menu, command, MF_BYCOMMAND);
  }
  PrepareFont();

  SIZE text = MeasureLabel();
  TProgressMetrics metrics{GetSystemMetrics(SM_CXDLGFRAME), GetSystemMetrics(SM_CYDLGFRAME),
                           GetSystemMetrics(SM_CYSMCAPTION), GetSystemMetrics(SM_CXVSCROLL)};
  TProgressLayout layout = ComputeProgressLayout(text.cx, text.cy, HasPicture(), metrics);
  if (layout.picture) {
    const TRect& r = layout.pictureButton;
    picture_ = CreateWindowExA(0, "BUTTON", "", WS_CHILD | WS_VISIBLE | WS_DISABLED | BS_OWNERDRAW,
                               r.x, r.y, r.width, r.height, window_, nullptr, instance, nullptr);
    if (picture_) SetWindowLongPtrA(picture_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  }
  const TRect& l = layout.label;
  const std::string& caption = areas_[active_].text;
  label_ = CreateWindowExA(0, "STATIC", caption.c_str(), WS_CHILD | WS_VISIBLE | SS_LEFT, l.x, l.y,
                           l.width, l.height, window_, nullptr, instance, nullptr);
  if (label_ && font_) SendMessageA(label_, WM_SETFONT, reinterpret_cast<WPARAM>(font_.Get()), FALSE);
  const TRect& b = layout.bar;
  bar_ = CreateWindowExA(0, PROGRESS_CLASSA, "", WS_CHILD | WS_VISIBLE, b.x, b.y, b.width, b.height,
                         window_, nullptr, instance, nullptr);
  if (bar_) SendMessageA(bar_, PBM_SETRANGE32, 0, 1000);

  if (IsIconic(window_)) ShowWindow(window_, SW_RESTORE);
  int w = layout.windowWidth, h = layout.windowHeight;
  if (activate) {
    SetWindowPos(window_, nullptr, (GetSystemMetrics(SM_CXSCREEN) - w) / 2,
                 (GetSystemMetrics(SM_CYSCREEN) - h) / 2, w, h, SWP_NOZORDER | SWP_NOACTIVATE);
    ShowWindow(window_, SW_SHOWNORMAL);
    BringWindowToTop(window_);
    SetForegroundWindow(window_);
  } else {
    RECT work;
    int right, bottom;
    if (SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0)) {
      right = work.right;
      bottom = work.bottom;
    } else {
      right = GetSystemMetrics(SM_CXFULLSCREEN);
      bottom = GetSystemMetrics(SM_CYFULLSCREEN) + GetSystemMetrics(SM_CYCAPTION);
    }
    SetWindowPos(window_, nullptr, right - w - 2, bottom - h - 2, w, h, SWP_NOZORDER | SWP_NOACTIVATE);
    ShowWindow(window_, SW_SHOWNOACTIVATE);
  }
  SetAreaPosition(position_);
  return true;
}

void TIProgressAlert::CloseWindow() {
  HWND window = window_;
  if (!window) return;
  if (picture_) SetWindowLongPtrA(picture_, GWLP_USERDATA, 0);
  if (OwnedByCallingThread(window)) {
    DestroyWindow(window);
  } else {
    SetPropA(window, kClosableProp, reinterpret_cast<HANDLE>(1));
    SendMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
  }
  window_ = picture_ = label_ = bar_ = nullptr;
  if (owner_) {
    EnableWindow(owner_, TRUE);
    SetActiveWindow(owner_);
  }
}

}  // namespace

KXPtr<IProgressAlert> CreateProgressAlert(const std::string& title, HMODULE pictureModule,
                                          const std::string& pictureName) {
  return KXPtr<IProgressAlert>(new TIProgressAlert(title, pictureModule, pictureName));
}

bool GetProgressWindows(IProgressAlert* alert, TProgressWindows& windows) {
  auto* impl = dynamic_cast<TIProgressAlert*>(alert);
  if (!impl) return false;
  impl->Windows(windows);
  return windows.main != nullptr;
}

}  // namespace kestrix
