// TExceptionBox: the exception dialog on plain windows (short view, details
// view with the report's tabs, OK / Details message box), and
// RunExceptionDialog, which runs it modally on the handling thread.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <cstdint>
#include <string>

#include "crash/base/win/scoped_gdi.h"
#include "crash/report/win/kx_exception_object.h"
#include "report_ui/dialog/dialog_layout.h"
#include "report_ui/views/report_tabs.h"

namespace kestrix {

// Runs the dialog for exception until it is gone: mode 0 the full dialog,
// 2 a message box with OK and Details, 3 with OK only. When the details were
// asked for (modes 0 and 2), it runs again as the details view.
void RunExceptionDialog(TIKXException* exception, int mode, bool beep);

// The delivery channels behind the send and print buttons. Unset, the
// buttons tell the user that sending (printing) did not work.
struct TDeliveryHooks {
  // Sends report; true when it was sent (or a background send was started
  // into sendThread).
  bool (*dispatch)(TIKXException* exception, const std::string& report, const KXPtr<IKXUnknown>& screenshot,
                   HWND parent, HANDLE& sendThread, bool background) = nullptr;
  bool (*print)(TIKXException* exception, const std::string& report, HWND parent) = nullptr;
};
void SetDeliveryHooks(const TDeliveryHooks& hooks);

// The exception's report as an HTML page (BuildReportHtmlPage with the
// exception's settings).
std::string ReportHtmlPageOf(TIKXException* exception);

// Told the window of a dialog that shows a freeze, so that the freeze
// watchdog can close it (null message, both parameters 777) once the
// program answers again.
void SetFreezeDialogSink(void (*sink)(HWND window));

// Called with each dialog window before it is shown (and the message box
// flag).
void SetExceptionBoxHook(void (*hook)(HWND window, bool messageBox));

// Window messages between the dialog's parts.
constexpr UINT kReportChangedMessage = 1801;
constexpr WPARAM kReportChangedW = 1357;
constexpr LPARAM kReportChangedL = 2468;
constexpr UINT_PTR kCountDownTimer = 777;
constexpr UINT_PTR kFadeTimer = 778;
constexpr WPARAM kWatchdogCloseParam = 777;

class TExceptionBox {
 public:
  TExceptionBox(TIKXException* exception, bool beep, bool detailsAllowed, bool messageBox);
  ~TExceptionBox();
  TExceptionBox(const TExceptionBox&) = delete;
  TExceptionBox& operator=(const TExceptionBox&) = delete;

  HWND Window() const { return window_; }
  bool DetailsRequested() const { return detailsRequested_; }
  bool MessageBoxMode() const { return messageBox_; }
  // The tab's content control (its messages skip dialog navigation).
  HWND Content() const { return content_; }
  TIKXException* Exception() const { return e_.get(); }

  void SyncTabs();
  void RefreshCurrentTab(bool noTab = false);
  void OfferHelp();
  void CopyToClipboard();

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK ButtonProc(HWND button, UINT message, WPARAM wParam, LPARAM lParam);
  static void OnReportChanged(void* window, bool complete, const std::string& report, IKXException* exception);
  LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);

  bool CanContinue();
  bool AutoDue(int32_t value);
  void ChooseAutoButton(bool fullDialog);
  void CreateFonts();
  void CreateButtons(const TDialogLayout& layout);
  int IndexOf(HWND button) const;

  // Drawing (exception_box_draw_win32.cpp).
  void DrawButton(int index, HDC target);
  // Blends the picture of index (n x n) into a 32-bit surface at (x, y).
  void DrawPicture(int index, uint32_t* pixels, int stride, int x, int y, int n);
  void PaintSeparator(HDC dc);
  void FocusChanged(int index);
  void StartPressFade(int index);
  void StepFades();
  void StepCountDown();
  void StopCountDown();

  // Actions (exception_box_actions_win32.cpp).
  void Click(int index);
  void Close();
  void Shutdown();
  bool Fire(uint8_t action);
  void Send();
  void Save();
  void Print();
  void ContinueApp();
  void RestartApp();
  void CloseApp();

  void Resize(int width, int height);

  KXPtr<TIKXException> e_;
  bool messageBox_;
  bool detailsAllowed_;
  bool detailsView_ = false;
  bool ugly_ = false;
  HWND window_ = nullptr;
  HWND buttons_[kDialogButtons] = {};
  HWND picture_ = nullptr, message_ = nullptr, tabs_ = nullptr, content_ = nullptr;
  WNDPROC buttonProc_ = nullptr;
  int autoButton_ = -1;
  DWORD countStart_ = 0;
  int lastX_ = -1;
  HIMAGELIST images_ = nullptr;
  TScopedFont font_, fixedFont_, smallFont_;
  // Deleted in the destructor's body: the DC, then its bitmap.
  TScopedMemoryDC memDC_;
  TScopedBitmap memBitmap_;
  HGDIOBJ memOldBitmap_ = nullptr, memOldFont_ = nullptr;
  uint32_t* memPixels_ = nullptr;
  int memWidth_ = 0;
  int buttonHeight_ = 22;
  views::TTabModel model_;
  int currentTab_ = -1;
  std::string currentText_;
  SIZE minSize_{};
  RECT link_{};
  bool linkHover_ = false;
  int separatorY_ = -1;
  int clientWidth_ = 0;
  bool detailsRequested_ = false;
  bool shuttingDown_ = false;
  bool listening_ = false;
  DWORD lastFade_ = 0;
  // Per button, in eighths: normal (0) to focused (8) colours, and the
  // share of the pressed colours; a press fade returns to 0 once at 8.
  int fade_[kDialogButtons] = {};
  int fadeTarget_[kDialogButtons] = {};
  int press_[kDialogButtons] = {};
  int pressTarget_[kDialogButtons] = {};
  bool pressReturns_[kDialogButtons] = {};
  int focused_ = -1;
};

}  // namespace kestrix
