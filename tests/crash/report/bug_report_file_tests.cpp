// Saving reports into the bug report file: appending, merging repeated
// crashes with a "count" line, trimming to the size limit.
#include <gtest/gtest.h>

#include "crash/report/bug_report_file.h"
#include "crash/report/report_text.h"

namespace kestrix {
namespace {

std::string Report(const std::string& time, const std::string& crc, const std::string& cls = "EAccessViolation",
                   const std::string& version = "1.0.0.0", const std::string& body = "main thread") {
  TFieldList header = {{"date/time", time}, {"executable", "crashlab.exe"}, {"version", version},
                       {"callstack crc", crc}, {"exception number", "1"}};
  if (!cls.empty()) header.push_back({"exception class", cls});
  header.push_back({"exception message", "Boom."});
  return FormatReportText(header, {{"main thread ($10)", body}});
}

const std::string kCrcA = "$1234abcd, $0badf00d, $89abcdef";
const std::string kCrcB = "$ffff0000, $0badf00d, $89abcdef";

int Occurrences(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
  return n;
}

TEST(BugReportFile, HeaderValues) {
  const std::string r = Report("2026-12-07, 10:00:00, 1ms", kCrcA);
  EXPECT_EQ(ReportHeaderValue("\r\n" + r, "date/time"), "2026-12-07, 10:00:00, 1ms");
  EXPECT_EQ(ReportHeaderValue(r, "callstack crc"), kCrcA);
  EXPECT_EQ(ReportHeaderValue(r, "count"), "");
  EXPECT_EQ(ReportHeaderValue("x\r\nversionless: y", "version"), "");
  EXPECT_EQ(ReportHeaderValue("x\r\nversion :z", "version"), "");
}

TEST(BugReportFile, AppendsAndMergesARepeatedCrash) {
  TBugReportFileRules rules;
  const std::string first = Report("2026-12-07, 10:00:00, 1ms", kCrcA);
  auto u1 = UpdateBugReportFile("", first, rules);
  EXPECT_EQ(u1.content, first + "\r\n\r\n");
  EXPECT_EQ(u1.count, 1);

  const std::string other = Report("2026-12-07, 10:00:01, 2ms", kCrcB);
  auto u2 = UpdateBugReportFile(u1.content, other, rules);
  EXPECT_EQ(u2.content, first + "\r\n\r\n" + other + "\r\n\r\n");

  // The same crash again: the old copy leaves, the new one carries count 2
  // right under "callstack crc", its ':' in the same column.
  const std::string again = Report("2026-12-07, 10:00:02, 3ms", kCrcA);
  auto u3 = UpdateBugReportFile(u2.content, again, rules);
  EXPECT_EQ(u3.count, 2);
  EXPECT_NE(u3.report.find("callstack crc    : " + kCrcA + "\r\ncount            : 2\r\n"), std::string::npos)
      << u3.report;
  EXPECT_EQ(u3.content, other + "\r\n\r\n" + u3.report + "\r\n\r\n");

  auto u4 = UpdateBugReportFile(u3.content, Report("2026-12-07, 10:00:03, 4ms", kCrcA), rules);
  EXPECT_EQ(u4.count, 3);
  EXPECT_EQ(Occurrences(u4.content, "date/time"), 2);
  EXPECT_EQ(Occurrences(u4.content, "count"), 1);
  EXPECT_EQ(u4.content.rfind(other, 0), 0u);  // the other report is untouched
}

TEST(BugReportFile, WhatCountsAsTheSameCrash) {
  TBugReportFileRules rules;
  const std::string base = UpdateBugReportFile("", Report("t1", kCrcA), rules).content;
  // Another exception class or version: both reports stay.
  EXPECT_EQ(UpdateBugReportFile(base, Report("t2", kCrcA, "EZeroDivide"), rules).count, 1);
  EXPECT_EQ(UpdateBugReportFile(base, Report("t2", kCrcA, "EAccessViolation", "1.0.0.1"), rules).count, 1);
  // Definition 1 compares the first 20 characters: the first two checksums.
  const std::string thirdDiffers = "$1234abcd, $0badf00d, $00000000";
  EXPECT_EQ(UpdateBugReportFile(base, Report("t2", thirdDiffers), rules).count, 2);
  rules.dupExceptDef = 2;
  EXPECT_EQ(UpdateBugReportFile(base, Report("t2", thirdDiffers), rules).count, 1);
  rules.dupExceptDef = 0;
  EXPECT_EQ(UpdateBugReportFile(base, Report("t2", "$1234abcd, $11111111, $22222222"), rules).count, 2);
  rules.noDupExcepts = false;
  EXPECT_EQ(UpdateBugReportFile(base, Report("t2", kCrcA), rules).count, 1);
  // A checksum still being calculated has the wrong length: no merging.
  TBugReportFileRules on;
  const std::string pending = UpdateBugReportFile("", Report("t1", "will be calculated soon"), on).content;
  EXPECT_EQ(UpdateBugReportFile(pending, Report("t2", "will be calculated soon"), on).count, 1);
  // Freezes (no "exception class") follow their own switch.
  const std::string freeze = UpdateBugReportFile("", Report("t1", kCrcA, ""), on).content;
  EXPECT_EQ(UpdateBugReportFile(freeze, Report("t2", kCrcA, ""), on).count, 2);
  on.noDupFreezes = false;
  EXPECT_EQ(UpdateBugReportFile(freeze, Report("t2", kCrcA, ""), on).count, 1);
}

TEST(BugReportFile, WithoutAppendingTheFileHoldsOneReport) {
  TBugReportFileRules rules;
  rules.append = false;
  const std::string r = Report("t2", kCrcA);
  EXPECT_EQ(UpdateBugReportFile("old stuff", r, rules).content, r + "\r\n\r\n");
}

TEST(BugReportFile, TrimsOldReportsAtAReportBoundary) {
  TBugReportFileRules rules;
  std::string file;
  std::vector<std::string> reports;
  for (int i = 0; i < 10; ++i) {
    reports.push_back(Report("t" + std::to_string(i), "$0000000" + std::to_string(i) + ", $0badf00d, $89abcdef",
                             "EAccessViolation", "1.0.0.0", std::string(200, 'a' + i)));
    file = UpdateBugReportFile(file, reports.back(), rules).content;
  }
  const size_t one = reports[0].size() + 4;
  rules.maxFileSize = static_cast<int64_t>(one * 6);
  const std::string next = Report("t10", "$000000aa, $0badf00d, $89abcdef");
  const std::string trimmed = UpdateBugReportFile(file, next, rules).content;
  // Whole reports only, the newest kept, below three quarters of the limit
  // before the new one was added.
  ASSERT_EQ(trimmed.rfind("date/time", 0), 0u);
  const size_t kept = trimmed.size() - next.size() - 4;
  EXPECT_LT(kept * 4, one * 6 * 3);
  EXPECT_EQ(kept % one, 0u);
  EXPECT_EQ(kept / one, 4u);
  EXPECT_NE(trimmed.find(reports[9]), std::string::npos);
  EXPECT_EQ(trimmed.find(reports[5]), std::string::npos);
  // A file within the limit is not trimmed.
  rules.maxFileSize = static_cast<int64_t>(file.size()) + 1;
  EXPECT_EQ(UpdateBugReportFile(file, next, rules).content, file + next + "\r\n\r\n");
}

}  // namespace
}  // namespace kestrix

namespace kestrix {
namespace {

TEST(BugReportFile, AppendOnlyWhereEveryEarlierByteStays) {
  TBugReportFileRules rules;
  const std::string a = Report("2026-12-07, 10:00:00, 1ms", kCrcA);
  const std::string b = Report("2026-12-07, 10:00:05, 1ms", kCrcB);
  // A new crash is appended: the earlier report is not written again.
  const TBugReportFileUpdate first = UpdateBugReportFile("", a, rules);
  const TBugReportFileUpdate second = UpdateBugReportFile(first.content, b, rules);
  TBugReportFileWrite plan = PlanBugReportFileWrite(first.content, second.content);
  EXPECT_FALSE(plan.rewrite);
  EXPECT_EQ(plan.appendFrom, first.content.size());
  EXPECT_FALSE(PlanBugReportFileWrite("", first.content).rewrite);
  // The same crash again merges into the earlier report: a rewrite.
  const TBugReportFileUpdate again = UpdateBugReportFile(second.content, a, rules);
  EXPECT_TRUE(PlanBugReportFileWrite(second.content, again.content).rewrite);
  // Trimming to the limit: a rewrite.
  rules.maxFileSize = static_cast<int64_t>(second.content.size()) - 1;  // the old file is past the limit
  const TBugReportFileUpdate trimmed =
      UpdateBugReportFile(second.content, Report("2026-12-07, 10:00:09, 1ms", "$00000001, $1, $1"), rules);
  EXPECT_TRUE(PlanBugReportFileWrite(second.content, trimmed.content).rewrite);
  // A file that shrank or changed anywhere is rewritten.
  EXPECT_TRUE(PlanBugReportFileWrite("abc", "ab").rewrite);
  EXPECT_TRUE(PlanBugReportFileWrite("abc", "abXd").rewrite);
}

}  // namespace
}  // namespace kestrix
