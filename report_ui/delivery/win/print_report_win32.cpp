// PrintReport: the print dialog, the page margins in the printer's pixels,
// the rows of the portable page layout.
#include "report_ui/delivery/win/print_report.h"

#include <commdlg.h>

#include "crash/base/win/scoped_gdi.h"
#include "crash/base/win/system_library.h"
#include "crash/settings/win/settings_object.h"
#include "crash/threads/win/library_threads.h"
#include "report_ui/delivery/print_layout.h"

namespace kestrix {

namespace {

int TextWidth(const std::string& text, void* context) {
  SIZE size{0, 0};
  GetTextExtentPoint32A(static_cast<HDC>(context), text.c_str(), static_cast<int>(text.size()), &size);
  return size.cx;
}

// The module this code is part of (whose settings apply without others).
HMODULE OwnModuleHandle() {
  HMODULE module = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCSTR>(&OwnModuleHandle), &module);
  return module;
}

// Millimetres in device pixels along one axis.
int Pixels(HDC dc, int index, int mm) { return MulDiv(mm * 10, GetDeviceCaps(dc, index), 254); }

// The page geometry and the report font of one printer.
struct TPrintSetup {
  int left = 0, top = 0, width = 0, rowsPerPage = 1, rowHeight = 1;
  TScopedFont font;
};

TPrintSetup PrintSetupOf(HDC dc) {
  TPrintSetup setup;
  int offsetX = GetDeviceCaps(dc, PHYSICALOFFSETX), offsetY = GetDeviceCaps(dc, PHYSICALOFFSETY);
  int pageWidth = GetDeviceCaps(dc, PHYSICALWIDTH), pageHeight = GetDeviceCaps(dc, PHYSICALHEIGHT);
  if (pageWidth <= 0) pageWidth = GetDeviceCaps(dc, HORZRES) + 2 * offsetX;
  if (pageHeight <= 0) pageHeight = GetDeviceCaps(dc, VERTRES) + 2 * offsetY;
  int left = Pixels(dc, LOGPIXELSX, 20) - offsetX, right = pageWidth - Pixels(dc, LOGPIXELSX, 10) - offsetX;
  int top = Pixels(dc, LOGPIXELSY, 10) - offsetY, bottom = pageHeight - Pixels(dc, LOGPIXELSY, 10) - offsetY;
  setup.left = left < 0 ? 0 : left;
  setup.top = top < 0 ? 0 : top;
  setup.width = right - setup.left;
  setup.font.Reset(CreateFontA(-MulDiv(8, GetDeviceCaps(dc, LOGPIXELSY), 72), 0, 0, 0, FW_NORMAL, 0, 0, 0,
                               DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, FIXED_PITCH,
                               "Courier New"));
  HGDIOBJ oldFont = SelectObject(dc, setup.font.Get());
  TEXTMETRICA metrics{};
  GetTextMetricsA(dc, &metrics);
  SelectObject(dc, oldFont);
  setup.rowHeight = metrics.tmHeight + metrics.tmExternalLeading;
  if (setup.rowHeight <= 0) setup.rowHeight = 1;
  setup.rowsPerPage = (bottom - setup.top) / setup.rowHeight;
  return setup;
}

std::vector<std::vector<std::string>> PagesOf(HDC dc, const TPrintSetup& setup, const std::string& report) {
  HGDIOBJ oldFont = SelectObject(dc, setup.font.Get());
  std::vector<std::vector<std::string>> pages = PrintPages(report, setup.width, setup.rowsPerPage, TextWidth, dc);
  SelectObject(dc, oldFont);
  return pages;
}

}  // namespace

std::vector<std::vector<std::string>> PrintedPages(HDC printer, const std::string& report) {
  TPrintSetup setup = PrintSetupOf(printer);
  std::vector<std::vector<std::string>> pages = PagesOf(printer, setup, report);
  return pages;
}

bool PrintReportOn(HDC dc, const std::string& report, const std::string& documentName) {
  TPrintSetup setup = PrintSetupOf(dc);
  std::vector<std::vector<std::string>> pages = PagesOf(dc, setup, report);

  DOCINFOA doc{};
  doc.cbSize = sizeof doc;
  doc.lpszDocName = documentName.c_str();
  HGDIOBJ oldFont = SelectObject(dc, setup.font.Get());
  bool ok = StartDocA(dc, &doc) > 0;
  for (size_t p = 0; ok && p < pages.size(); ++p) {
    ok = StartPage(dc) > 0;
    SelectObject(dc, setup.font.Get());  // a new page may reset the device context
    SetBkMode(dc, TRANSPARENT);
    int y = setup.top;
    for (const std::string& row : pages[p]) {
      if (!row.empty()) TextOutA(dc, setup.left, y, row.c_str(), static_cast<int>(row.size()));
      y += setup.rowHeight;
    }
    if (ok) ok = EndPage(dc) > 0;
  }
  if (ok)
    EndDoc(dc);
  else
    AbortDoc(dc);
  SelectObject(dc, oldFont);
  return ok;
}

bool PrintReport(const std::string& report, HWND parent, IKXSettings* settings) {
  if (IsProcessBlocked(250)) {
    MessageBeep(MB_ICONERROR);
    return false;
  }
  KXPtr<IKXSettings> own;
  if (!settings) {
    own = KXPtr<IKXSettings>(new TIKXSettings(OwnModuleHandle()));
    settings = own.get();
  }
  using TPrintDlgA = BOOL(WINAPI*)(LPPRINTDLGA);
  auto printDialog = SystemFunctionAs<TPrintDlgA>("comdlg32.dll", "PrintDlgA");
  if (!printDialog) return false;
  PRINTDLGA pd{};
  pd.lStructSize = sizeof pd;
  pd.hwndOwner = parent;
  pd.Flags = PD_RETURNDC | PD_NOSELECTION | PD_NOPAGENUMS | PD_HIDEPRINTTOFILE | PD_NONETWORKBUTTON |
             PD_USEDEVMODECOPIESANDCOLLATE;
  pd.nCopies = 1;
  if (!printDialog(&pd) || !pd.hDC) return false;
  {
    TScopedMemoryDC printer(pd.hDC);
    PrintReportOn(printer.Get(), report, settings->PrintBtnTxt());
  }
  if (pd.hDevMode) GlobalFree(pd.hDevMode);
  if (pd.hDevNames) GlobalFree(pd.hDevNames);
  return false;
}

}  // namespace kestrix
