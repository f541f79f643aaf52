// Code page 1252's list-control match as a table of what each byte stands for.
#include "analyzer/list_match.h"

#include <array>

namespace quorrin {
namespace {

// A byte's replacement: up to two bytes; none for an ignored byte.
struct TFoldEntry {
  char text[2];
  unsigned char size;
};

constexpr std::array<TFoldEntry, 256> MakeFold1252() {
  std::array<TFoldEntry, 256> t{};
  auto to = [&t](int b, char c) { t[b] = {{c, 0}, 1}; };
  auto toTwo = [&t](int b, const char (&s)[3]) { t[b] = {{s[0], s[1]}, 2}; };
  for (int b = 0; b < 256; ++b) to(b, static_cast<char>(b));
  for (int b = 'A'; b <= 'Z'; ++b) to(b, static_cast<char>(b + 32));
  to(0x8A, '\x9A');  // Š š
  to(0x8E, '\x9E');  // Ž ž
  to(0x9F, '\xFF');  // Ÿ ÿ
  for (int b = 0xC0; b <= 0xDE; ++b)
    if (b != 0xD7) to(b, static_cast<char>(b + 32));  // À-Þ à-þ, × and ÷ apart
  to(0x88, '^');
  toTwo(0x8C, "oe");
  toTwo(0x9C, "oe");
  toTwo(0xC6, "ae");
  toTwo(0xE6, "ae");
  toTwo(0xDF, "ss");
  toTwo(0xDE, "th");
  toTwo(0xFE, "th");
  t[0xAD] = {{0, 0}, 0};  // soft hyphen
  return t;
}

constexpr std::array<TFoldEntry, 256> kFold1252 = MakeFold1252();

}  // namespace

std::string FoldAnsi1252(std::string_view text) {
  std::string folded;
  folded.reserve(text.size());
  for (const unsigned char c : text) folded.append(kFold1252[c].text, kFold1252[c].size);
  return folded;
}

}  // namespace quorrin
