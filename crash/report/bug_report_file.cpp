#include "crash/report/bug_report_file.h"

#include <string>

namespace kestrix {
namespace {

constexpr std::string_view kReportStart = "\r\ndate/time";

// Where the report around position at begins: its "date/time" line.
size_t ReportBegin(std::string_view file, size_t at) {
  const size_t p = file.rfind(kReportStart, at);
  if (p != std::string_view::npos) return p + 2;
  const size_t first = file.find("date/time");
  return first == std::string_view::npos || first > at ? 0 : first;
}

// Where the report after position at ends: the start of the next report's
// "date/time" line, so that the blank lines after a report go with it.
size_t ReportEnd(std::string_view file, size_t at) {
  const size_t p = file.find(kReportStart, at);
  return p == std::string_view::npos ? file.size() : p + 2;
}

bool SameCrashSource(std::string_view oldReport, std::string_view newReport) {
  for (const char* label : {"executable", "current module", "exception class", "version"})
    if (ReportHeaderValue(oldReport, label) != ReportHeaderValue(newReport, label)) return false;
  if (!ReportHeaderValue(newReport, "version").empty()) return true;
  for (const char* label : {"exec. date/time", "module date/time"})
    if (ReportHeaderValue(oldReport, label) != ReportHeaderValue(newReport, label)) return false;
  return true;
}

// The "count" line goes right after the "callstack crc" line, its ':' in
// the same column.
std::string InsertCountLine(std::string_view report, int count) {
  const size_t crc = report.find("\r\ncallstack crc");
  if (crc == std::string_view::npos) return std::string(report);
  const size_t lineStart = crc + 2;
  size_t lineEnd = report.find("\r\n", lineStart);
  if (lineEnd == std::string_view::npos) lineEnd = report.size();
  const size_t colon = report.find(':', lineStart);
  std::string label = "count";
  if (colon != std::string_view::npos && colon < lineEnd && colon - lineStart > label.size())
    label.append(colon - lineStart - label.size(), ' ');
  std::string out(report.substr(0, lineEnd));
  out += "\r\n" + label + ": " + std::to_string(count);
  out += report.substr(lineEnd);
  return out;
}

// Drops the oldest reports: the file then starts at the first report from
// which the rest is below three quarters of the limit.
void Trim(std::string& file, int64_t limit) {
  for (size_t p = file.find(kReportStart); p != std::string::npos; p = file.find(kReportStart, p + 2)) {
    if (static_cast<int64_t>(file.size() - (p + 2)) * 4 < limit * 3) {
      file.erase(0, p + 2);
      return;
    }
  }
  file.clear();  // not even the newest old report fits
}

}  // namespace

std::string DuplicateChecksumPrefix(std::string_view report, const TBugReportFileRules& rules) {
  const std::string crc = ReportHeaderValue(report, "callstack crc");
  const bool isException = report.find("\r\nexception class") != std::string_view::npos;
  const bool noDup = isException ? rules.noDupExcepts : rules.noDupFreezes;
  const int def = isException ? rules.dupExceptDef : rules.dupFreezeDef;
  if (!noDup || crc.size() != 31) return std::string();
  return crc.substr(0, def == 0 ? 9 : def == 1 ? 20 : 31);
}

std::string ReportHeaderValue(std::string_view report, std::string_view label) {
  const size_t p = report.find("\r\n" + std::string(label));
  if (p == std::string_view::npos) return {};
  size_t i = p + 2 + label.size();
  size_t end = report.find("\r\n", i);
  if (end == std::string_view::npos) end = report.size();
  while (i < end && report[i] == ' ') ++i;
  if (i + 1 >= end || report[i] != ':' || report[i + 1] != ' ') return {};
  return std::string(report.substr(i + 2, end - i - 2));
}

std::string ReportExceptionMessage(std::string_view report) {
  std::string value = ReportHeaderValue(report, "exception message");
  const size_t first = value.find_first_not_of(" \t");
  if (first == std::string::npos) return std::string();
  return value.substr(first, value.find_last_not_of(" \t") - first + 1);
}

TBugReportFileUpdate UpdateBugReportFile(std::string_view oldContent, std::string_view report,
                                         const TBugReportFileRules& rules) {
  TBugReportFileUpdate result;
  result.report = std::string(report);
  if (!rules.append) {
    result.content = result.report + "\r\n\r\n";
    return result;
  }
  std::string file(oldContent);

  const std::string prefix = DuplicateChecksumPrefix(report, rules);
  if (!file.empty() && !prefix.empty()) {
    const std::string needle = ": " + prefix;
    for (size_t at = file.rfind(needle); at != std::string::npos;
         at = at ? file.rfind(needle, at - 1) : std::string::npos) {
      const size_t begin = ReportBegin(file, at);
      const size_t end = ReportEnd(file, at);
      const std::string_view old = std::string_view(file).substr(begin, end - begin);
      // The first line has no CR LF before it: compare with one in front.
      const std::string oldReport = "\r\n" + std::string(old);
      if (!SameCrashSource(oldReport, "\r\n" + std::string(report))) continue;
      const std::string oldCount = ReportHeaderValue(oldReport, "count");
      int previous = 1;
      try {
        if (!oldCount.empty()) previous = std::stoi(oldCount);
      } catch (...) {
        previous = 1;
      }
      result.count = previous + 1;
      result.report = InsertCountLine(report, result.count);
      file.erase(begin, end - begin);
      break;
    }
  }
  if (rules.maxFileSize > 0 && static_cast<int64_t>(file.size()) > rules.maxFileSize) Trim(file, rules.maxFileSize);
  result.content = file + result.report + "\r\n\r\n";
  return result;
}

TBugReportFileWrite PlanBugReportFileWrite(std::string_view oldContent, std::string_view newContent) {
  TBugReportFileWrite plan;
  if (newContent.size() >= oldContent.size() && newContent.compare(0, oldContent.size(), oldContent) == 0)
    plan.appendFrom = oldContent.size();
  else
    plan.rewrite = true;
  return plan;
}

}  // namespace kestrix
