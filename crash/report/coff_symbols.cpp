#include "crash/report/coff_symbols.h"

#include "crash/base/little_endian.h"
#include "crash/base/symbol_names.h"

#include <cstdlib>
#include <cstring>

namespace kestrix {
namespace {

constexpr size_t kSymbolSize = 18;
constexpr size_t kSectionHeaderSize = 40;
constexpr uint8_t kClassExternal = 2, kClassStatic = 3, kClassFile = 103;

// A zero-terminated text of at most `max` bytes inside [p, end).
std::string Text(const uint8_t* p, const uint8_t* end, size_t max) {
  const size_t room = std::min<size_t>(max, end - p);
  const void* zero = std::memchr(p, 0, room);
  return std::string(reinterpret_cast<const char*>(p), zero ? static_cast<const uint8_t*>(zero) - p : room);
}

}  // namespace

std::vector<TCoffFunction> ReadCoffFunctions(const uint8_t* data, size_t size) {
  std::vector<TCoffFunction> out;
  if (size < 0x40 || data[0] != 'M' || data[1] != 'Z') return out;
  const uint32_t pe = Dword(data + 0x3C);
  // Signature (4) and file header (20).
  if (pe > size || size - pe < 24 || std::memcmp(data + pe, "PE\0\0", 4) != 0) return out;
  const uint8_t* fileHeader = data + pe + 4;
  const uint16_t sectionCount = Word(fileHeader + 2);
  const uint32_t symbolOffset = Dword(fileHeader + 8);
  const uint32_t symbolCount = Dword(fileHeader + 12);
  const uint16_t optionalSize = Word(fileHeader + 16);
  const uint64_t sectionsAt = static_cast<uint64_t>(pe) + 24 + optionalSize;
  if (sectionsAt + static_cast<uint64_t>(sectionCount) * kSectionHeaderSize > size) return out;
  const uint8_t* sections = data + sectionsAt;
  const uint64_t tableEnd = static_cast<uint64_t>(symbolOffset) + static_cast<uint64_t>(symbolCount) * kSymbolSize;
  if (!symbolOffset || !symbolCount || tableEnd + 4 > size) return out;

  const uint8_t* table = data + symbolOffset;
  const uint8_t* strings = data + tableEnd;
  const uint8_t* end = data + size;
  const uint8_t* stringsEnd = strings + std::min<uint64_t>(Dword(strings), end - strings);
  std::string unit;
  for (uint32_t i = 0; i < symbolCount; ++i) {
    const uint8_t* s = table + static_cast<size_t>(i) * kSymbolSize;
    const uint8_t storage = s[16];
    const uint8_t aux = s[17];
    const uint32_t auxAvailable = symbolCount - 1 - i;
    const uint32_t auxCount = aux < auxAvailable ? aux : auxAvailable;
    if (storage == kClassFile && auxCount > 0) {
      unit = UnitNameOfFile(Text(s + kSymbolSize, end, kSymbolSize * auxCount));
    } else if (storage == kClassExternal || storage == kClassStatic) {
      const int16_t section = static_cast<int16_t>(Word(s + 12));
      const uint16_t type = Word(s + 14);
      if ((type & 0x30) == 0x20 && section > 0 && section <= sectionCount) {
        std::string name;
        if (Dword(s) == 0) {
          const uint32_t offset = Dword(s + 4);
          if (offset >= 4 && offset < static_cast<uint64_t>(stringsEnd - strings))
            name = Text(strings + offset, stringsEnd, stringsEnd - strings - offset);
        } else {
          name = Text(s, end, 8);
        }
        const uint32_t virtualAddress = Dword(sections + (section - 1) * kSectionHeaderSize + 12);
        out.push_back({virtualAddress + Dword(s + 8), MapSymbolName(name, true), unit, name});
      }
    }
    i += auxCount;
  }
  return out;
}

std::string UnitNameOfFile(const std::string& path) {
  const size_t slash = path.find_last_of("\\/");
  std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  const size_t dot = base.rfind('.');
  return dot == std::string::npos ? base : base.substr(0, dot);
}

}  // namespace kestrix
