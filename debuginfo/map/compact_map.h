// The compact map: the format the build step writes (resource "KX"
// "EXCEPT", or a ".kx" file beside the module) and the library reads.
//
//   0  14 signature            22 4 fingerprint A (version 3)
//  14   4 payload length N     26 4 fingerprint B (version 3)
//  18   4 version (2 or 3)     30 4 flags (bit 0: names stripped)
//  34 (version 2: 22)  N  payload: enciphered, then zlib-deflated tables
//
// Tables (little-endian): segments (int32 count; int32 offset, int32
// length, compact name | stripped: one HasLines byte), publics (int32
// count; compact name unless stripped; first address int32, then compact
// deltas), lines (int32 count; first int32 line and offset, then compact
// deltas), optionally an int32 entry-point offset. Offsets are from the
// module's base of code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "debuginfo/map/map_file.h"
#include "debuginfo/map/mini_stream.h"

namespace kestrix {

constexpr char kCompactMapSignature[15] = "KestrixDbgMap1";
constexpr uint32_t kCompactMapStripped = 1;

// What the build step writes, as offsets from the base of code.
struct TMapContents {
  struct Segment {
    uint32_t offset = 0, length = 0;
    std::string unit;
    bool hasLines = false;
  };
  struct Public {
    std::string name;
    uint32_t offset = 0;
  };
  struct Line {
    int32_t line = 0;
    uint32_t offset = 0;
  };
  std::vector<Segment> segments;  // sorted by offset
  std::vector<Public> publics;    // sorted by offset
  std::vector<Line> lines;        // sorted by offset
  bool hasEntryPoint = false;
  uint32_t entryPoint = 0;
};

// The whole compact map (header and payload); a stripped map carries no
// names and no line table. `fingerprintB` identifies the build (the
// build step uses the code section's CRC-32); A is the CRC-32 of the
// full tables.
std::string WriteCompactMap(const TMapContents& contents, uint32_t fingerprintB, bool stripped);

// "$" + 8 hex digits of the data's length, A and B, joined by ", ".
std::string CompactMapFingerprint(const uint8_t* data, size_t size);

enum class TCompactMapResult {
  kNotAMap,   // wrong signature, version or size: not a source
  kInvalid,   // a map whose payload cannot be read (error says why)
  kLoaded,
};

struct TCompactMapHeader {
  uint32_t payloadLength = 0, version = 0, valueA = 0, valueB = 0, flags = 0;
  size_t payloadOffset = 0;
};
bool ReadCompactMapHeader(const uint8_t* data, size_t size, TCompactMapHeader& header);

// Fills the map's tables (offsets taken from its BaseOfCode). Never reads
// outside [data, data + size).
TCompactMapResult LoadCompactMap(const uint8_t* data, size_t size, TMapFile& map, std::string& error);

// Compact integers and strings (exposed for tests).
bool ReadCompactInt(TMiniStream& s, int32_t& value);
std::string ReadCompactStr(TMiniStream& s);
void WriteCompactInt(std::string& out, int32_t value);
void WriteCompactStr(std::string& out, const std::string& text);

}  // namespace kestrix
