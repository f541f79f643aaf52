// Little-endian 16- and 32-bit values from bytes (file formats, PE headers),
// whatever the host's byte order and alignment.
#pragma once

#include <cstdint>

namespace kestrix {

inline uint16_t Word(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t Dword(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace kestrix
