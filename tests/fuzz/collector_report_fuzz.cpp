// kxcollect's readers of reports from any bytes: a report, a bug report
// file, a mail with its MIME parts, an mbox, a ZIP archive.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "collector/intake.h"
#include "collector/report_facts.h"
#include "collector/zip_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kestrix::collector;
  std::string_view text(reinterpret_cast<const char*>(data), size);
  TParsedReport report;
  std::string error;
  if (ParseReport(text, report, error)) {
    const TReportFacts facts = ReportFacts(report);
    if (facts.count < 1) __builtin_trap();
  }
  for (const std::string& r : SplitBugReportFile(text))
    if (r.substr(0, 9) != "date/time") __builtin_trap();
  TSubmission s;
  SubmissionFromMail(text, s, error);
  SplitMbox(text);
  std::vector<TZipEntry> entries;
  ReadZipArchive(text, entries, error, 1 << 20);
  return 0;
}
