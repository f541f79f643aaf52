// Reports the crash lab wrote, read back into header items and sections as
// the report object holds them.
#pragma once

#include <string>

#include "report_ui/views/report_tabs.h"

namespace kestrix::views {

struct TStoredReport {
  TSectionList header;
  TSectionList sections;
};

// The last report of a bug report file in REPORT_FIXTURES.
TStoredReport LoadStoredReport(const std::string& name);

}  // namespace kestrix::views
