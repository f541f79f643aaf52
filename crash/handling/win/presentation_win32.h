// Presenting an exception: the dialog, the CGI page, the assistants, the
// message box of last resort, and the automatic actions armed with it.
// The dialog and assistant windows are wired in at start-up.
#pragma once

#include <windows.h>

#include <string>

#include "crash/report/win/kx_exception_object.h"

namespace kestrix {

void ShowException(TIKXException* exception);
// The same in the handling flow: with `armBeforeDialog`, the automatic
// actions are armed unless the exception's assistant was shown (mode 1).
void ShowException(TIKXException* exception, bool armBeforeDialog);
// Registers the automatic actions (AutoSend, AutoClip, AutoSave) as the
// report's critical callback when the settings ask for any; again: nothing.
void ArmAutomaticActions(TIKXException* exception);
// True once when the presentation of the thread's exception was left to the
// program (see ShowException).
bool TakePresentationLeft(DWORD threadId);

// The exception dialog (display modes 0 to 3); without it exceptions are
// shown in a message box.
using TExceptionDialog = void (*)(TIKXException* exception, int mode, bool beep);
void SetExceptionDialog(TExceptionDialog dialog);
// The report as an HTML page, for CGI mode.
using TReportHtmlPage = std::string (*)(TIKXException* exception);
void SetReportHtmlPage(TReportHtmlPage page);
// The assistants: runs the exception's assistant `name` modally above
// `owner` (may be none); when it is confirmed its answers go into the
// report, and the field values are kept in the form cache. Returns its
// modal result (1 confirmed), or -1 when there is no such assistant.
// Unset: no assistants. Returns the previous runner.
using TAssistantRunner = int (*)(TIKXException* exception, const std::string& name, HWND owner);
TAssistantRunner SetAssistantRunner(TAssistantRunner runner);
// The same, above a top-most owner made non-top-most meanwhile.
int RunAssistant(TIKXException* exception, const std::string& name, HWND owner);

}  // namespace kestrix
