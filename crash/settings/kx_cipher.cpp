#include "crash/settings/kx_cipher.h"

#include <cstdint>

namespace kestrix {

namespace {

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int Base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

// Key stream: a linear congruential generator seeded with FNV-1a of the key.
class TKeyStream {
 public:
  TKeyStream(const std::string& account, const std::string& server) {
    uint32_t h = 2166136261u;
    auto mix = [&h](unsigned char c) { h = (h ^ c) * 16777619u; };
    for (unsigned char c : account) mix(c);
    mix(1);
    for (unsigned char c : server) mix(c);
    state_ = h;
  }
  unsigned char Next() {
    state_ = state_ * 1103515245u + 12345u;
    return static_cast<unsigned char>(state_ >> 16);
  }

 private:
  uint32_t state_;
};

}  // namespace

std::string Base64Encode(const std::string& data) {
  std::string out;
  size_t i = 0;
  for (; i + 2 < data.size(); i += 3) {
    uint32_t v = static_cast<unsigned char>(data[i]) << 16 |
                 static_cast<unsigned char>(data[i + 1]) << 8 |
                 static_cast<unsigned char>(data[i + 2]);
    for (int k = 18; k >= 0; k -= 6) out += kAlphabet[v >> k & 63];
  }
  size_t rest = data.size() - i;
  if (rest > 0) {
    uint32_t v = static_cast<unsigned char>(data[i]) << 16;
    if (rest == 2) v |= static_cast<unsigned char>(data[i + 1]) << 8;
    out += kAlphabet[v >> 18 & 63];
    out += kAlphabet[v >> 12 & 63];
    out += rest == 2 ? kAlphabet[v >> 6 & 63] : '=';
    out += '=';
  }
  return out;
}

bool Base64Decode(const std::string& text, std::string& data) {
  data.clear();
  if (text.size() % 4 != 0) return false;
  for (size_t i = 0; i < text.size(); i += 4) {
    int v[4];
    int pad = 0;
    for (int k = 0; k < 4; ++k) {
      char c = text[i + k];
      if (c == '=' && i + 4 == text.size() && k >= 2) {
        v[k] = 0;
        ++pad;
      } else if (pad > 0 || (v[k] = Base64Value(c)) < 0) {
        return false;
      }
    }
    uint32_t w = v[0] << 18 | v[1] << 12 | v[2] << 6 | v[3];
    data += static_cast<char>(w >> 16);
    if (pad < 2) data += static_cast<char>(w >> 8);
    if (pad < 1) data += static_cast<char>(w);
  }
  return true;
}

// Each byte is XORed with the key stream and the previous cipher byte, so
// equal plain bytes do not show as equal cipher bytes.
std::string EncipherText(const std::string& plain, const std::string& account,
                         const std::string& server) {
  TKeyStream key(account, server);
  std::string out(plain.size(), '\0');
  unsigned char previous = 0x5A;
  for (size_t i = 0; i < plain.size(); ++i) {
    auto c = static_cast<unsigned char>(static_cast<unsigned char>(plain[i]) ^ key.Next() ^ previous);
    out[i] = static_cast<char>(c);
    previous = c;
  }
  return out;
}

std::string DecipherText(const std::string& cipher, const std::string& account,
                         const std::string& server) {
  TKeyStream key(account, server);
  std::string out(cipher.size(), '\0');
  unsigned char previous = 0x5A;
  for (size_t i = 0; i < cipher.size(); ++i) {
    auto c = static_cast<unsigned char>(cipher[i]);
    out[i] = static_cast<char>(c ^ key.Next() ^ previous);
    previous = c;
  }
  return out;
}

std::string EncodePassword(const std::string& plain, const std::string& account,
                           const std::string& server) {
  return Base64Encode(EncipherText(plain, account, server));
}

std::string DecodePassword(const std::string& stored, const std::string& account,
                           const std::string& server) {
  std::string raw;
  if (!Base64Decode(stored, raw)) return std::string();
  return DecipherText(raw, account, server);
}

}  // namespace kestrix
