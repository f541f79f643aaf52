// The content of the bug report file after saving one more report: appending,
// merging a repeated crash into one report with a "count" line, trimming the
// file to its size limit.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kestrix {

struct TBugReportFileRules {
  bool append = true;           // AppendBugReps
  bool noDupExcepts = true;     // NoDupExcepts
  int dupExceptDef = 1;         // DupExceptDef
  bool noDupFreezes = true;     // NoDupFreezes
  int dupFreezeDef = 1;         // DupFreezeDef
  int64_t maxFileSize = 0;      // BugRepFileSize; 0 or less: no limit
};

struct TBugReportFileUpdate {
  std::string content;          // the whole new file
  std::string report;           // the report as written (with its "count" line)
  int count = 1;                // occurrences of this crash, this one included
};

// A header value: the rest of the line after CR LF + label, whose first
// non-blank character must be ':' followed by one blank; else empty.
// The exception message as the report's header gives it, trimmed; empty
// when the report has none.
std::string ReportExceptionMessage(std::string_view report);

std::string ReportHeaderValue(std::string_view report, std::string_view label);

// The part of the "callstack crc" value that a repeated crash shares with
// the report: exceptions (an "exception class" item) by NoDupExcepts and
// DupExceptDef, freezes by NoDupFreezes and DupFreezeDef (0: the first
// checksum, 1: the first two, 2: all three). Empty when that rule is off or
// the value is not three checksums.
std::string DuplicateChecksumPrefix(std::string_view report, const TBugReportFileRules& rules);

// What the file holds after saving report into a file that held oldContent.
TBugReportFileUpdate UpdateBugReportFile(std::string_view oldContent, std::string_view report,
                                         const TBugReportFileRules& rules);

// How the file on disk goes from oldContent to newContent: only appending
// the tail when every earlier byte stays (the earlier reports are not
// written again), else rewriting it whole (a merge or a trim), which the
// caller does with a spare copy of the new content beside the file.
struct TBugReportFileWrite {
  bool rewrite = false;
  size_t appendFrom = 0;  // when appending: the offset of the new tail
};
TBugReportFileWrite PlanBugReportFileWrite(std::string_view oldContent, std::string_view newContent);

}  // namespace kestrix
