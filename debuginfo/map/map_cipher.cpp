#include "debuginfo/map/map_cipher.h"

#include <cstdio>

namespace kestrix {

// A key-scheduled byte permutation whose output stream is added (xor) to
// the text.
std::string MapCipher(const std::string& text, const std::string& key) {
  if (key.empty()) return text;
  uint8_t s[256];
  for (int i = 0; i < 256; ++i) s[i] = static_cast<uint8_t>(i);
  for (int i = 0, j = 0; i < 256; ++i) {
    j = (j + s[i] + static_cast<uint8_t>(key[i % key.size()]) + 0x5b) & 0xff;
    const uint8_t t = s[i];
    s[i] = s[j];
    s[j] = t;
  }
  std::string out = text;
  uint8_t i = 0, j = 0;
  for (char& c : out) {
    i = static_cast<uint8_t>(i + 1);
    j = static_cast<uint8_t>(j + s[i]);
    const uint8_t t = s[i];
    s[i] = s[j];
    s[j] = t;
    c = static_cast<char>(static_cast<uint8_t>(c) ^ s[static_cast<uint8_t>(s[i] + s[j])]);
  }
  return out;
}

std::string DeriveMapPassword(uint32_t length) {
  static const char kWord[] = {'Q', 'v', 'e', 'r', 'i', 'x', 0};
  char text[40];
  std::snprintf(text, sizeof text, "%s$%07x%s%08u", kWord, length & 0xfffffffu, kWord, length % 100000000u);
  std::string doubled = std::string(text) + text;
  return MapCipher(doubled, doubled);
}

}  // namespace kestrix
