// The debug-information map of a program file, as the tools read it: an
// executable's embedded map (else the map files beside it) or a ".kx" file
// with the executable beside it for the module's bounds.
#pragma once

#include <string>

#include "debuginfo/map/map_file.h"

namespace kestrix::tools {

// Whole file; false when it cannot be read.
bool ReadFile(const std::string& path, std::string& content);
std::string BaseName(const std::string& path);

// Loads the map of path into map; module is the module's file name (the
// executable's when a ".kx" file lies beside it). False with the reason.
bool LoadProgramMap(const std::string& path, TMapFile& map, std::string& module, std::string& error);

}  // namespace kestrix::tools
