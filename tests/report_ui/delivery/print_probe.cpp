// Prints a report file the way the exception dialog does:
//   print_probe <report file> <printer name>   PrintReportOn on that printer
//   print_probe <report file> --dialog         PrintReport (the print dialog)
//   print_probe <report file> --blocked        PrintReport while the process
//                                              shuts down (no dialog, a beep)
// First prints the layout PrintReportOn uses on the printer: "pages <n>",
// then "row <page> <text>" per row.
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "crash/threads/win/library_threads.h"
#include "report_ui/delivery/win/print_report.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fputs("usage: print_probe <report file> <printer name> | --dialog\n", stderr);
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  const std::string report((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::string printer = argv[2];
  if (printer == "--blocked") kestrix::SetShuttingDown(true);
  if (printer == "--dialog" || printer == "--blocked") {
    kestrix::PrintReport(report, nullptr, nullptr);
    return 0;
  }
  HDC dc = CreateDCA(nullptr, printer.c_str(), nullptr, nullptr);
  if (!dc) {
    std::fprintf(stderr, "no printer %s\n", printer.c_str());
    return 1;
  }
  const auto pages = kestrix::PrintedPages(dc, report);
  std::printf("pages %u\n", static_cast<unsigned>(pages.size()));
  for (size_t p = 0; p < pages.size(); ++p)
    for (const std::string& row : pages[p]) std::printf("row %u %s\n", static_cast<unsigned>(p + 1), row.c_str());
  std::fflush(stdout);
  const bool ok = kestrix::PrintReportOn(dc, report, "print_probe");
  DeleteDC(dc);
  return ok ? 0 : 1;
}
