// The maps of the modules loaded in this process: built on first use,
// cached by module file name, rebuilt when the file's date changes; and the
// lookups the rest of the library asks for through its provider hooks.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "debuginfo/map/map_file.h"

namespace kestrix {

// The map of the module containing `address` (0: the library's own
// module). Never null; an invalid map when the module has no usable map.
std::shared_ptr<const TMapFile> MapFileForAddress(uint32_t address);

// Module file name, unit, line (0 unknown), public entry and name of an
// address; false when the module has no usable map.
bool DescribeAddress(uint32_t address, std::string& moduleFileName, std::string& unitName, int32_t& line,
                     uint32_t& publicAddress, std::string& publicName);

// "unit.name" when the address is a public's entry, else empty; names of a
// stripped map get " (module)" appended.
std::string ProcNameAtAddress(uint32_t address);

// The line of an address, looked up only when it lies outside
// [rangeStart, rangeEnd) of the previous answer.
void CachedLineNumber(uint32_t address, int32_t& line, uint32_t& rangeStart, uint32_t& rangeEnd);

// Frees every cached map (library shutdown).
void ClearMapCache();

// Packed date and time of a file's last write (date high, time low); 0
// when it cannot be read.
uint32_t FileDate(const std::string& path);

}  // namespace kestrix
