// The linker's text map (".map" beside the module): segments, publics,
// line numbers and the entry point.
#pragma once

#include <string>

#include "debuginfo/map/map_file.h"

namespace kestrix {

// Fills the map from the text; a text map always counts as a source.
void ParseTextMap(const std::string& text, TMapFile& map);

}  // namespace kestrix
