// TD32 debug information (the format of Borland's linker): in the module's
// loaded image, in a ".tds" file beside it, or appended to the module file.
//
// Data: "FB09" or "FB0A", the 32-bit offset of the first subsection
// directory. A directory: 16-bit header size, 16-bit entry size, 32-bit
// entry count, 32-bit offset of the next directory (0 ends the chain);
// an entry: 16-bit subsection type, 16-bit module index, 32-bit offset and
// size. All offsets are from the start of the data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "debuginfo/map/map_file.h"
#include "debuginfo/readers/module_map.h"

namespace kestrix {

// Subsection types the reader uses.
constexpr uint16_t kTd32Modules = 0x120;
constexpr uint16_t kTd32AlignedSymbols = 0x125;
constexpr uint16_t kTd32SourceModules = 0x127;
constexpr uint16_t kTd32GlobalSymbols = 0x129;
constexpr uint16_t kTd32Names = 0x130;

enum class TTd32Result {
  kNotTd32,   // no "FB09"/"FB0A" signature
  kInvalid,   // TD32 data whose structure lies outside the data (error says why)
  kLoaded,
};

// Fills the map (offsets from its bases) from TD32 data at [data, data + size);
// the map is left as it was unless the result is kLoaded. Never reads
// outside the data.
TTd32Result ParseTd32Data(const uint8_t* data, size_t size, TMapFile& map, std::string& error);

// The TD32 information of a module: in memory when `loadedImage` and the
// image's debug directory is not empty, else in the ".tds" file beside the
// map file (skipped when outdated), else in the module file. Images with two
// code sections have none. False when there is none; `error` says why when
// information was found but could not be read.
bool ParseTd32Info(TMapFile& map, TModuleSource& source, bool loadedImage, std::string& error);

// A ".map" file with the same base name exists and was written on a later
// day than the ".tds" file.
bool IsTdsOutdated(TModuleSource& source, const std::string& tdsFile);

}  // namespace kestrix
