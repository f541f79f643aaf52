// JDBG debug files (".jdbg" beside the module): units, symbols and line
// numbers in delta-coded tables, names packed in 6-bit codes or scrambled.
//
// Header: "JDBG", version byte 1, six 32-bit offsets (units, source names,
// symbols, line numbers, words, module name), 32-bit checksum, a byte
// telling whether the checksum is valid (offset 33).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "debuginfo/map/map_file.h"

namespace kestrix {

constexpr uint8_t kJdbgScramble = 0xa7;  // xor of scrambled names
constexpr uint32_t kJdbgTableEnd = 0x7fffffff;

// A variable-length number at *at (7-bit groups, least significant first);
// false at the end of the data.
bool ReadJdbgNumber(const uint8_t* data, size_t size, size_t& at, uint32_t& value);

// The name at `index` of the name storage at [words, size).
std::string UnpackJdbgName(const uint8_t* data, size_t size, uint32_t words, int32_t index);

// The checksum a valid file stores: the sum of its 32-bit words with the
// checksum field zeroed.
uint32_t JdbgChecksum(const uint8_t* data, size_t size);

// Fills the map from a whole JDBG file; false with `error` when it is none.
bool ReadJdbgData(const uint8_t* data, size_t size, TMapFile& map, std::string& error);

}  // namespace kestrix
