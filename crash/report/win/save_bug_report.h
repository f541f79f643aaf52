// Saving a report to the bug report file (the dialog's save button and the
// automatic saving).
#pragma once

#include <windows.h>

#include <string>

namespace kestrix {

class TIKXException;

// Appends the exception's report to fileName (the BugRepFile setting when
// empty), merging a duplicate and trimming to the size limit.
bool SaveBugReport(TIKXException* exception, HWND parent, const std::string& fileName, bool automatic);

// Puts a report on the clipboard as text; nothing when it is taken.
void CopyToClipboard(const std::string& report);

// Called after a report was saved to the bug report file (not to a copy
// for sending), with the file's path and how often the crash now stands in
// it (1: a new report; more: a repeated crash the file counted).
using TReportSavedHook = void (*)(TIKXException* exception, const std::string& path, int count);
void SetReportSavedHook(TReportSavedHook hook);

// The bug report file of the exception's settings (BugRepFile resolved).
std::string BugReportFilePathOf(TIKXException* exception);

}  // namespace kestrix
