// Instruction bytes written as hexadecimal text ("8b 45 08"), for tables
// of cases.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kestrix::decoder::testing {

inline std::vector<uint8_t> Bytes(const std::string& hex) {
  std::vector<uint8_t> out;
  int nibble = -1;
  for (char c : hex) {
    int v = (c >= '0' && c <= '9') ? c - '0' : (c >= 'a' && c <= 'f') ? c - 'a' + 10
          : (c >= 'A' && c <= 'F') ? c - 'A' + 10 : -1;
    if (v < 0) continue;
    if (nibble < 0) {
      nibble = v;
    } else {
      out.push_back(static_cast<uint8_t>(nibble * 16 + v));
      nibble = -1;
    }
  }
  return out;
}

}  // namespace kestrix::decoder::testing
