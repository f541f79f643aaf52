// Names for reports of programs built with NAMES_IN_KX_FILE that ran without
// their ".kx" file: the call-stack lines of that module carry only module
// and address; the ".kx" file of the same build (found by its fingerprint)
// names them as the program would have, and the call-stack checksums are
// computed again from the named lines.
#pragma once

#include <string>
#include <string_view>

#include "collector/report_facts.h"
#include "debuginfo/map/map_file.h"

namespace kestrix::collector {

struct TKxFile {
  std::string fingerprint;  // "$length, $A, $B", as the settings record's MinDebugInfo
  std::string moduleStem;   // the module the map belongs to, without extension, lower case
  TMapFile map;
};

// fileName: the ".kx" file's name (its stem names the module). False with
// the reason when the bytes are not a complete compact map with names.
bool LoadKxFile(std::string_view bytes, const std::string& fileName, TKxFile& kx, std::string& error);

// The report with the lines of kx's module named; false when it had no line
// to name (report is then unchanged).
bool NameReport(TParsedReport& report, const TKxFile& kx);

}  // namespace kestrix::collector
