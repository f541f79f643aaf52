// Presenting an exception: console and CGI output, the exception's
// assistant (display mode 1), the dialog, and the message box of last
// resort.
#include "crash/handling/win/presentation_win32.h"

#include "crash/handling/win/handling_state_win32.h"

namespace kestrix {
namespace {

void WriteToConsole(TIKXException* e, const std::string& message) {
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  std::string text = message + "\r\n";
  if (CgiMode() && HandlingState().reportHtmlPage) {
    e->SetPlWaitBoxOff();
    text = "Content-Type: text/html\r\n\r\n" + HandlingState().reportHtmlPage(e);
  } else if (e->AutoShowBugRep() || e->ShowBtnVis()) {
    e->SetPlWaitBoxOff();
    text += "\r\n" + e->ReportText(true) + "\r\n";
  }
  DWORD written = 0;
  if (out && out != INVALID_HANDLE_VALUE) WriteFile(out, text.data(), text.size(), &written, nullptr);
}

}  // namespace

void SetExceptionDialog(TExceptionDialog dialog) { HandlingState().exceptionDialog = dialog; }
void SetReportHtmlPage(TReportHtmlPage page) { HandlingState().reportHtmlPage = page; }

TAssistantRunner SetAssistantRunner(TAssistantRunner runner) {
  TAssistantRunner previous = HandlingState().assistantRunner;
  HandlingState().assistantRunner = runner;
  return previous;
}

int RunAssistant(TIKXException* e, const std::string& name, HWND owner) {
  const TAssistantRunner runner = HandlingState().assistantRunner;
  if (!e || !runner || name.empty()) return -1;
  // A top-most owner (the exception dialog) would cover the pages.
  const bool topmost = owner && (GetWindowLongA(owner, GWL_EXSTYLE) & WS_EX_TOPMOST);
  const UINT keep = SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE;
  if (topmost) SetWindowPos(owner, HWND_NOTOPMOST, 0, 0, 0, 0, keep);
  int result;
  try {
    result = runner(e, name, owner);
  } catch (...) {
    result = -1;  // a failing assistant is as none: the action goes on
  }
  if (topmost && IsWindow(owner)) SetWindowPos(owner, HWND_TOPMOST, 0, 0, 0, 0, keep);
  return result;
}

void ShowException(TIKXException* e) { ShowException(e, false); }

void ShowException(TIKXException* e, bool armBeforeDialog) {
  const std::string raw = e->GetRawTextSetting(e->ExceptionKind() == etFreeze ? "FrozenMsg" : "ExceptMsg");
  const std::string message = e->ExpandText(raw, e->ExceptionMessageText());
  if (ConsoleMode()) {
    WriteToConsole(e, message);
    return;
  }
  const int32_t mode = e->DisplayMode();
  if (mode == 4) return;
  // Mode 1: the exception's assistant instead of the dialog; without one,
  // the dialog of mode 0.
  if (mode == 1 && RunAssistant(e, e->DisplayAssistant(), nullptr) >= 0) return;
  if (armBeforeDialog) ArmAutomaticActions(e);
  const TExceptionDialog dialog = HandlingState().exceptionDialog;
  if (dialog && mode >= 0 && mode <= 3) {
    // A dialog that fails leaves the message box.
    try {
      dialog(e, mode == 1 ? 0 : mode, true);
      return;
    } catch (...) {
    }
  }
  // Without the dialog, an exception from an event handler of mode 0 or 1
  // is shown by the program's own message box once the handling is over;
  // others get the message box here.
  if ((mode == 0 || mode == 1) && e->Source() == esEventHandler) {
    HandlingState().presentationLeftTo = e->FaultingThreadId();
    return;
  }
  MessageBeep(MB_ICONHAND);
  const std::string text = message + "\r\n\r\n" + e->ExceptionMessageText();
  MessageBoxA(nullptr, text.c_str(), e->TitleBar().c_str(), MB_OK | MB_ICONERROR | MB_TOPMOST);
}

bool TakePresentationLeft(DWORD threadId) {
  DWORD expected = threadId;
  return threadId != 0 && HandlingState().presentationLeftTo.compare_exchange_strong(expected, 0);
}

}  // namespace kestrix
