// TExceptionBox's buttons and closing, and RunExceptionDialog with its modal
// loop and keyboard rules.
#include <memory>

#include "crash/base/win/scoped_handle.h"
#include "crash/handling/win/ending_win32.h"
#include "crash/handling/win/handler_lists_win32.h"
#include "crash/report/win/save_bug_report.h"
#include "report_ui/dialog/win/dialog_state_win32.h"
#include "report_ui/dialog/win/exception_box_win32.h"

namespace kestrix {

namespace {

// An absolute BugRepFile: "\..." or "X:...".
bool AbsoluteReportPath(const std::string& path) {
  return path.size() > 2 && (path[0] == '\\' || path[1] == ':');
}

void PutOnClipboard(HWND owner, const std::string& text) {
  if (!OpenClipboard(owner)) return;
  EmptyClipboard();
  if (HGLOBAL mem = GlobalAlloc(GMEM_MOVEABLE, text.size() + 1)) {
    if (void* p = GlobalLock(mem)) {
      memcpy(p, text.c_str(), text.size() + 1);
      GlobalUnlock(mem);
      if (!SetClipboardData(CF_TEXT, mem)) GlobalFree(mem);
    } else {
      GlobalFree(mem);
    }
  }
  CloseClipboard();
}

}  // namespace

void SetDeliveryHooks(const TDeliveryHooks& hooks) { DialogState().delivery = hooks; }

std::string ReportHtmlPageOf(TIKXException* e) {
  THtmlPageSettings s;
  s.titleBar = e->TitleBar();
  s.exceptMsg = e->GetRawTextSetting("ExceptMsg");
  s.continueBtnTxt = e->ContinueBtnTxt();
  s.showBtnTxt = e->ShowBtnTxt();
  s.continueBtnVis = e->ContinueBtnVis();
  s.showBtnVis = e->ShowBtnVis();
  s.autoShowBugRep = e->AutoShowBugRep();
  auto expand = [](void* context, const std::string& text, const std::string& exceptMsg) {
    return static_cast<TIKXException*>(context)->ExpandText(text, exceptMsg);
  };
  return BuildReportHtmlPage(e->ReportText(true), s, expand, e);
}

bool TExceptionBox::Fire(uint8_t action) {
  bool handled = false;
  FireExceptionHandlers(window_, ekAction, action, handled, e_.get());
  return handled;
}

void TExceptionBox::Click(int index) {
  if (shuttingDown_) return;
  StopCountDown();
  switch (index) {
    case dbShow:
      StartPressFade(index);
      Fire(acShowReport);
      detailsRequested_ = true;
      Shutdown();
      return;
    case dbClose:
      return CloseApp();
    case dbContinue:
      if (!CanContinue()) return CloseApp();
      return ContinueApp();
    case dbRestart:
      return RestartApp();
    case dbSend:
      StartPressFade(index);
      return Send();
    case dbSave:
      StartPressFade(index);
      return Save();
    case dbPrint:
      StartPressFade(index);
      return Print();
  }
}

void TExceptionBox::Close() {
  if (shuttingDown_) return;
  const int button = CloseButtonFor(e_->FocusedBtn(), buttons_[dbContinue] != nullptr, CanContinue(),
                                    buttons_[dbClose] != nullptr, buttons_[dbRestart] != nullptr);
  StopCountDown();
  switch (button) {
    case dbContinue:
      if (!CanContinue()) return CloseApp();
      return ContinueApp();
    case dbRestart:
      return RestartApp();
    case dbClose:
      return CloseApp();
    default:
      Shutdown();  // the message box simply closes
  }
}

void TExceptionBox::Shutdown() {
  if (shuttingDown_) return;
  shuttingDown_ = true;
  StopCountDown();
  RefreshCurrentTab(true);
  if (window_) DestroyWindow(window_);
}

void TExceptionBox::ContinueApp() {
  Fire(acContinue);  // continuing goes on whatever the handlers say
  Shutdown();
}

void TExceptionBox::RestartApp() {
  if (Fire(acRestart)) return;
  TIKXException* e = e_.get();
  Shutdown();
  FinishBeforeEnding(e);
  RestartProgram();
}

void TExceptionBox::CloseApp() {
  if (Fire(acClose)) return;
  TIKXException* e = e_.get();
  Shutdown();
  FinishBeforeEnding(e);
  EndProgram(ExitCodeOf(e));
}

void TExceptionBox::Send() {
  if (Fire(acSend)) return;
  TIKXException* e = e_.get();
  HANDLE thread = nullptr;
  const KXPtr<IKXUnknown> screenshot = e->AttachScreenShot() ? e->ScreenShot() : KXPtr<IKXUnknown>();
  const std::string report = e->ReportText(true);
  bool sent = false;
  const TDeliveryHooks& delivery = DialogState().delivery;
  if (delivery.dispatch) sent = delivery.dispatch(e, report, screenshot, window_, thread, e->SendInBackgr());
  e->AdoptSendThread(thread);
  if (sent) {
    e->SetSent(true);
  } else if (!delivery.dispatch) {
    // No delivery channel: the report was not sent, and the user is told.
    MessageBoxA(window_, e->SendFailMsg().c_str(), e->TitleBar().c_str(), MB_OK | MB_ICONERROR);
  }
  SetCursor(LoadCursorA(nullptr, MAKEINTRESOURCEA(32512)));
}

void TExceptionBox::Save() {
  if (Fire(acSave)) return;
  TIKXException* e = e_.get();
  const bool saved = SaveBugReport(e, window_, std::string(), false);
  if (saved) e->SetSaved(true);
  if (saved && AbsoluteReportPath(e->GetRawTextSetting("BugRepFile")) && buttons_[dbSave]) {
    if (GetFocus() == buttons_[dbSave]) SetFocus(GetNextDlgTabItem(window_, buttons_[dbSave], FALSE));
    DestroyWindow(buttons_[dbSave]);
    buttons_[dbSave] = nullptr;
  }
  SetCursor(LoadCursorA(nullptr, MAKEINTRESOURCEA(32512)));
}

void TExceptionBox::Print() {
  if (Fire(acPrint)) return;
  TIKXException* e = e_.get();
  const std::string report = e->ReportText(true);
  const TDeliveryHooks& delivery = DialogState().delivery;
  if (!delivery.print || !delivery.print(e, report, window_)) {
    if (!delivery.print)
      MessageBoxA(window_, "Sorry, printing the bug report didn't work.", e->TitleBar().c_str(),
                  MB_OK | MB_ICONERROR);
  }
  SetCursor(LoadCursorA(nullptr, MAKEINTRESOURCEA(32512)));
}

void TExceptionBox::OfferHelp() { Fire(acHelp); }

void TExceptionBox::CopyToClipboard() {
  TIKXException* e = e_.get();
  PutOnClipboard(window_, e->AutoShowBugRep() ? e->ReportText(true) : e->ExceptionMessageText());
}

// --- the modal loop ----------------------------------------------------------------

namespace {

bool Inside(HWND window, HWND ancestor) {
  return ancestor && (window == ancestor || IsChild(ancestor, window));
}

void RunOnce(TIKXException* e, int mode, bool beep, bool& details) {
  const bool messageBox = mode == 2 || mode == 3;
  auto box = std::make_unique<TExceptionBox>(e, beep, mode == 2, messageBox);
  HWND window = box->Window();
  MSG msg;
  bool quit = false;
  while (window && IsWindow(window)) {
    const BOOL got = GetMessageA(&msg, nullptr, 0, 0);
    if (got == 0) {
      quit = true;
      break;
    }
    if (got < 0) break;
    if (msg.message == WM_KEYDOWN && (msg.hwnd == window || IsChild(window, msg.hwnd))) {
      if (msg.wParam == VK_ESCAPE) {
        PostMessageA(window, WM_CLOSE, 0, 0);
        continue;
      }
      if (msg.wParam == VK_F1) {
        box->OfferHelp();
        continue;
      }
      if (msg.wParam == 'C' && (GetKeyState(VK_CONTROL) & 0x8000)) {
        box->CopyToClipboard();
        continue;
      }
    }
    if (Inside(msg.hwnd, box->Content()) || !IsDialogMessageA(window, &msg)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
  }
  details = box->DetailsRequested();
  box.reset();
  if (quit) PostQuitMessage(static_cast<int>(msg.wParam));
}

}  // namespace

void RunExceptionDialog(TIKXException* e, int mode, bool beep) {
  if (!e) return;
  bool details = false;
  RunOnce(e, mode, beep, details);
  if ((mode == 0 || mode == 2) && details) {
    e->SetAutoShowBugRep(true);
    e->SetAutoContinue(false);
    e->SetAutoRestart(0);
    e->SetAutoClose(0);
    RunExceptionDialog(e, 0, false);
  }
}

}  // namespace kestrix
