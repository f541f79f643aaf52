// The compact map's contents for a linked PE program, from its own debug
// information: DWARF (through libdwarf) for functions, inlined calls and
// lines; the COFF symbol table for code that has no DWARF (library archive
// members, start-up code).
#pragma once

#include <cstdint>
#include <string>

#include "debuginfo/map/compact_map.h"

namespace kestrix {

struct TDwarfMapStats {
  size_t units = 0, dwarfFunctions = 0, symbolFunctions = 0, lines = 0;
  uint64_t dwarfBytes = 0;  // size of the .debug_* sections
};

// Reads `exe`; false with `error` when it is no PE32 image or has no code.
bool ExtractMapContents(const std::string& exe, TMapContents& contents, uint32_t& codeCrc, TDwarfMapStats& stats,
                        std::string& error);

}  // namespace kestrix
