#include "debuginfo/readers/jdbg_reader.h"

#include <cstring>

#include "crash/base/little_endian.h"

namespace kestrix {

namespace {

uint32_t Ror8(uint32_t v) { return v >> 8 | v << 24; }

std::string WithoutPath(const std::string& name) {
  const size_t slash = name.rfind('\\');
  return slash == std::string::npos ? name : name.substr(slash + 1);
}

}  // namespace

bool ReadJdbgNumber(const uint8_t* data, size_t size, size_t& at, uint32_t& value) {
  value = 0;
  for (int shift = 0; shift < 35; shift += 7) {
    if (at >= size) return false;
    const uint8_t b = data[at++];
    value |= static_cast<uint32_t>(b & 0x7f) << shift;
    if (!(b & 0x80)) return true;
  }
  return false;
}

std::string UnpackJdbgName(const uint8_t* data, size_t size, uint32_t words, int32_t index) {
  std::string name;
  if (index <= 0 || words > size || static_cast<uint64_t>(index) - 1 >= size - words) return name;
  size_t at = words + static_cast<uint32_t>(index) - 1;
  if (data[at] == 1) {
    for (++at; at < size && data[at] && name.size() < 255; ++at)
      name += static_cast<char>(data[at] == kJdbgScramble ? data[at] : data[at] ^ kJdbgScramble);
    return name;
  }
  if (data[at] == 2) {
    name = "@";
    ++at;
  }
  static const char kCodes[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz_";
  for (;;) {
    uint8_t b[3] = {0, 0, 0};
    for (int i = 0; i < 3; ++i) b[i] = at + i < size ? data[at + i] : 0;
    const uint8_t codes[4] = {static_cast<uint8_t>(b[0] & 0x3f),
                              static_cast<uint8_t>((b[0] >> 6) | (b[1] & 0x0f) << 2),
                              static_cast<uint8_t>((b[1] >> 4) | (b[2] & 0x03) << 4),
                              static_cast<uint8_t>(b[2] >> 2)};
    for (uint8_t c : codes) {
      if (c == 0 || name.size() >= 255) return name;
      name += kCodes[c - 1];
    }
    at += 3;
    if (at >= size) return name;
  }
}

uint32_t JdbgChecksum(const uint8_t* data, size_t size) {
  uint32_t sum = 0;
  for (size_t i = 0; i + 4 <= size; i += 4) {
    uint8_t word[4];
    std::memcpy(word, data + i, 4);
    for (size_t k = 0; k < 4; ++k)
      if (i + k >= 29 && i + k < 33) word[k] = 0;
    sum += Dword(word);
  }
  return sum;
}

bool ReadJdbgData(const uint8_t* data, size_t size, TMapFile& map, std::string& error) {
  if (size < 35 || size % 4 != 0) {
    error = "JDBG file: too small or its size is not a multiple of 4";
    return false;
  }
  if (std::memcmp(data, "JDBG", 4) != 0 || data[4] != 1) {
    error = "JDBG file: wrong signature or version";
    return false;
  }
  const uint32_t stored = Dword(data + 29);
  if (data[33]) {
    uint32_t sum = 0;
    for (size_t i = 0; i < size; i += 4) sum += Dword(data + i);
    if (Ror8(sum - stored) != stored) {
      error = "JDBG file: checksum does not match";
      return false;
    }
  }
  const uint32_t units = Dword(data + 5), symbols = Dword(data + 13), lines = Dword(data + 17),
                 words = Dword(data + 21);
  // Units.
  size_t at = units;
  uint32_t offset = 0;
  int32_t nameIndex = 0;
  for (uint32_t d1, d2; ReadJdbgNumber(data, size, at, d1) && d1 != kJdbgTableEnd &&
                        ReadJdbgNumber(data, size, at, d2);) {
    offset += d1;
    nameIndex = static_cast<int32_t>(static_cast<uint32_t>(nameIndex) + d2);
    map.AddSegment(true, true, offset, WithoutPath(UnpackJdbgName(data, size, words, nameIndex)), 1);
  }
  map.SortSegmentTable();
  map.CloseSegmentGaps(false);
  if (map.TopOfCode && !map.Segments().empty()) {
    TMfSegment& last = map.MutableSegments().back();
    if (last.IsCode && map.TopOfCode > last.StartAddr) last.Length = map.TopOfCode - last.StartAddr;
  }
  // Symbols.
  at = symbols;
  offset = 0;
  int32_t first = 0, second = 0;
  for (uint32_t d1, d2, d3; ReadJdbgNumber(data, size, at, d1) && d1 != kJdbgTableEnd &&
                            ReadJdbgNumber(data, size, at, d2) && ReadJdbgNumber(data, size, at, d3);) {
    offset += d1;
    first = static_cast<int32_t>(static_cast<uint32_t>(first) + d2);
    second = static_cast<int32_t>(static_cast<uint32_t>(second) + d3);
    std::string name = UnpackJdbgName(data, size, words, first);
    if (second > 0) {
      name += "." + UnpackJdbgName(data, size, words, second);
      const TMfSegment* unit = map.FindSegment(true, offset + map.BaseOfCode);
      if (unit && !unit->UnitName.empty() && name.size() > unit->UnitName.size() && StartsText(unit->UnitName, name))
        name.erase(0, unit->UnitName.size() + 1);
    }
    map.AddPublic(true, name, offset);
  }
  // Line numbers.
  at = lines;
  offset = 0;
  int32_t line = 0;
  for (uint32_t d1, d2; ReadJdbgNumber(data, size, at, d1) && d1 != kJdbgTableEnd &&
                        ReadJdbgNumber(data, size, at, d2);) {
    offset += d1;
    line = static_cast<int32_t>(static_cast<uint32_t>(line) + d2);
    map.AppendLineEntry(line, map.BaseOfCode + offset);
  }
  return true;
}

}  // namespace kestrix
