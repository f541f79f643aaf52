// A bug report as text, taken apart: the header items, the sections, and
// the facts the collector groups and lists by. Also the reports of a bug
// report file, each with its "count".
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "crash/report/report_text.h"

namespace kestrix::collector {

struct TParsedReport {
  std::string text;      // CR LF line ends
  TFieldList header;     // item, value
  TFieldList sections;   // title (without the ":" the text adds), content
};

// The pieces of text between separators (one piece when there is none).
std::vector<std::string_view> SplitText(std::string_view text, std::string_view separator);

// False (with the reason) when text is not a bug report: it must begin with
// the "date/time" item and have a "callstack crc" item. LF-only line ends
// (as mail may leave them) are taken too.
bool ParseReport(std::string_view text, TParsedReport& report, std::string& error);

struct TReportFacts {
  std::string dateTime, computer, executable, module, version, buildDate;
  std::string exceptionClass, exceptionMessage, callstackCrc;
  bool freeze = false;
  int count = 1;
  std::string location;  // the crashing function and line: the first call-stack line
};
// Values as UTF-8 (bytes that are not are taken as Latin-1).
TReportFacts ReportFacts(const TParsedReport& report);

// The first call-stack line with names of the first thread section, its
// address and module left out: "crashlab 80 +2 WriteViolation"; without
// one, the first line's module and address.
std::string CrashLocation(const TParsedReport& report);

// The reports of a bug report file, oldest first (each from "date/time" on).
std::vector<std::string> SplitBugReportFile(std::string_view file);

// "2026-12-08, 01:02:03, 45ms" → "2026-12-08 01:02:03"; empty when the text
// is not such a time.
std::string ReportTime(const std::string& dateTime);

// Dotted version numbers compared number by number; other text by bytes.
int CompareVersions(const std::string& a, const std::string& b);

}  // namespace kestrix::collector
