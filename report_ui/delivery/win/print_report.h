// PrintReport: the report on the printer the user picks, line by line in
// "Courier New" 8 pt, word-wrapped within the margins.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "kestrix/settings.h"

namespace kestrix {

// Always false (callers ignore it). Beeps when the process is blocked;
// without settings the module's own are used (PrintBtnTxt names the job).
bool PrintReport(const std::string& report, HWND parent, IKXSettings* settings);

// The printing proper on a printer's device context: false when the job
// could not be started or a page not be printed.
bool PrintReportOn(HDC printer, const std::string& report, const std::string& documentName);

// The rows PrintReportOn puts on each page of that printer.
std::vector<std::vector<std::string>> PrintedPages(HDC printer, const std::string& report);

}  // namespace kestrix
