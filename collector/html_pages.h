// The collector's pages, rendered on the server as plain HTML with their
// own style sheet (no script, no file from elsewhere): the groups with
// sort and filter, a group with its occurrences chart, versions, the
// newest report in the exception dialog's tabs, screenshot and downloads.
#pragma once

#include <string>
#include <vector>

#include "collector/report_facts.h"
#include "collector/report_store.h"
#include "crash/base/html_text.h"

namespace kestrix::collector {

using kestrix::HtmlEscape;
// A query-string value, percent-encoded.
std::string UrlEncode(const std::string& text);

std::string GroupsPage(const std::vector<TGroupRow>& groups, const TGroupFilter& filter,
                       const std::vector<std::string>& classes, const std::vector<std::string>& versions);

struct TGroupPageData {
  TGroupDetail detail;
  bool haveReport = false;
  TReportRow latest;
  TParsedReport report;                  // the newest report
  std::vector<TAttachmentRow> latestFiles;
  int tab = 0;                           // the tab shown
  size_t offset = 0, pageSize = 100;     // the reports listed
};
std::string GroupPage(const TGroupPageData& data);

// The occurrences per day as an SVG bar chart.
std::string OccurrencesChart(const std::vector<std::pair<std::string, int64_t>>& days);

// A report's files to download.
std::string ReportFilesPage(const TReportRow& report, const std::vector<TAttachmentRow>& files);

std::string MessagePage(int status, const std::string& title, const std::string& text);

}  // namespace kestrix::collector
