// DispatchBugReport: sends a report over the channels the settings name,
// in the background when asked, with the progress window.
#pragma once

#include <windows.h>

#include <string>

namespace kestrix {

class TIKXException;

// 0 failed, 1 sent (or handed to the sending thread), 2 cancelled by the
// user. Only a channel that delivered counts as sent; the report is then
// marked as sent.
int DispatchBugReport(const std::string& report, HWND parent, HANDLE* threadSlot, bool inThread,
                      TIKXException* exception, bool background, bool hidden);

// Waits until the background sends still running have ended, at most
// `timeoutMs`; true when none is left. Shutdown waits so that a program that
// goes on after a crash and ends soon does not cut its report's mail off.
bool WaitForBackgroundSends(DWORD timeoutMs);

// The handling flow's send hook.
int SendReportFromHandling(const std::string& report, TIKXException* exception, HANDLE* threadSlot,
                           bool background, bool hidden);

}  // namespace kestrix
