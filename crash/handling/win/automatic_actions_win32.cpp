// The automatic actions: sending and copying once the report is complete,
// saving before the program goes on, ends or restarts.
#include <cstring>

#include "crash/handling/win/ending_win32.h"
#include "crash/handling/win/handling_state_win32.h"
#include "crash/report/win/save_bug_report.h"

namespace kestrix {
namespace {

// Runs once the report is complete: sending, then the clipboard.
void AutomaticActionsCallback(bool complete, const std::string& report, IKXException* exception) {
  auto* e = dynamic_cast<TIKXException*>(exception);
  if (!complete || !e || !e->FirstCompleteCallback()) return;
  if (e->AutoSend()) {
    bool handled = false;
    FireExceptionHandlers(nullptr, ekAction, acSend, handled, e);
    // In the background, without a parent window; the thread's handle is
    // kept in the exception.
    if (!handled && HandlingState().sendReport) {
      HANDLE thread = nullptr;
      HandlingState().sendReport(report, e, &thread, true, true);
      e->AdoptSendThread(thread);
    }
  }
  if (e->AutoClip())
    CopyToClipboard(report);
  else
    e->RemoveReportListener(AutomaticActionsCallback);
}

}  // namespace

void ArmAutomaticActions(TIKXException* e) {
  if (e->AutoSave() || e->AutoSend() || e->AutoClip()) e->AddReportListener(AutomaticActionsCallback, true);
}

void FinishAutomaticActions(TIKXException* e, bool waitForSend) {
  if (e->CriticalCallbackExists() || (CompleteHandlerExists() && e->CallHandlers())) e->ReportText(true);
  if (e->AutoSave() && (!e->AutoSaveIfNotSent() || !e->Sent()) && e->FirstAutoSave()) {
    bool handled = false;
    FireExceptionHandlers(nullptr, ekAction, acSave, handled, e);
    if (!handled) SaveBugReport(e, nullptr, std::string(), true);
  }
  if (waitForSend) e->WaitForSendThread();
}

void FinishBeforeEnding(TIKXException* e) { FinishAutomaticActions(e, true); }

}  // namespace kestrix
