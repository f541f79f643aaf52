// The order list's match against a real list control: for every pair of
// one-byte texts and for many longer texts, two texts have equal keys
// exactly when LB_FINDSTRINGEXACT finds the one for the other.
#include <gtest/gtest.h>
#include <windows.h>

#include <cctype>
#include <functional>
#include <random>
#include <set>

#include "analyzer/list_match.h"
#include "analyzer/text_utils.h"

namespace quorrin {
namespace {

using KeyOf = std::function<std::string(std::string_view)>;

class ListControl : public ::testing::Test {
 protected:
  void SetUp() override {
    list_ = CreateWindowExA(0, "LISTBOX", "", WS_POPUP, 0, 0, 100, 100, nullptr, nullptr,
                            GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(list_, nullptr) << "no list control (is there a display?)";
  }
  void TearDown() override {
    if (list_) DestroyWindow(list_);
  }

  void Fill(const TStringList& texts) {
    SendMessageA(list_, LB_RESETCONTENT, 0, 0);
    for (const std::string& t : texts) SendMessageA(list_, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(t.c_str()));
  }
  // Every index the list control finds text at.
  std::set<int> FindAll(const std::string& text) {
    std::set<int> found;
    for (LRESULT from = -1;;) {
      from = SendMessageA(list_, LB_FINDSTRINGEXACT, static_cast<WPARAM>(from), reinterpret_cast<LPARAM>(text.c_str()));
      if (from == LB_ERR || !found.insert(static_cast<int>(from)).second) return found;
    }
  }

  void ExpectEveryBytePair(const KeyOf& key) {
    TStringList texts;
    for (int b = 1; b < 256; ++b) texts.emplace_back(1, static_cast<char>(b));
    Fill(texts);
    for (size_t i = 0; i < texts.size(); ++i) {
      std::set<int> expected;
      for (size_t j = 0; j < texts.size(); ++j)
        if (key(texts[j]) == key(texts[i])) expected.insert(static_cast<int>(j));
      EXPECT_EQ(FindAll(texts[i]), expected) << "byte " << i + 1;
    }
  }

  // Random texts over bytes that test the rules (letters, ligatures, the
  // ignored soft hyphen, look-alikes); every other one is rewritten by those
  // rules so that many pairs match.
  void ExpectRandomTexts(const KeyOf& key) {
    const std::string alphabet = "aeAEsStThoO-'^_.12 \x88\xAD\xC6\xE6\xDF\x8C\x9C\xDE\xFE\xE9\xC9\x81\x96\x92\xFF\x9F\xB2\xAA\xE4\xC4";
    std::mt19937 rng(1);
    auto pick = [&] { return alphabet[rng() % alphabet.size()]; };
    int matching = 0;
    for (int n = 0; n < 6000; ++n) {
      std::string a(1 + rng() % 6, ' '), b;
      for (char& c : a) c = pick();
      if (n % 2 == 0) {
        b.resize(1 + rng() % 6);
        for (char& c : b) c = pick();
      } else {
        for (const char c : a) {
          const unsigned char u = c;
          std::string piece(1, c);
          switch (rng() % 4) {
            case 0:
              if (u == 0xC6 || u == 0xE6) piece = "ae";
              if (u == 0x9C) piece = "OE";
              if (u == 0xDF) piece = "ss";
              if (u == 0xFE) piece = "th";
              break;
            case 1: piece += '\xAD'; break;
            case 2:
              if ((u < 0x80 && std::isalpha(u)) || (u >= 0xC0 && u < 0xFF && u != 0xD7 && u != 0xF7 && u != 0xDF))
                piece[0] = static_cast<char>(u ^ 0x20);
              break;
          }
          b += piece;
        }
      }
      Fill({a});
      const bool found = SendMessageA(list_, LB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(b.c_str())) == 0;
      matching += found;
      EXPECT_EQ(key(a) == key(b), found) << "\"" << a << "\" and \"" << b << "\"";
    }
    EXPECT_GT(matching, 1000);  // the rewritten half mostly matches
  }

  HWND list_ = nullptr;
};

TEST_F(ListControl, MatchKeyFindsWhatTheListControlFinds) {
  ExpectEveryBytePair(ListMatchKey);
  ExpectRandomTexts(ListMatchKey);
}

TEST_F(ListControl, CodePage1252FoldFindsWhatTheListControlFinds) {
  // The table describes this code page and the default sorting only.
  if (GetACP() != 1252 || GetUserDefaultLCID() != 0x0409)
    GTEST_SKIP() << "ANSI code page " << GetACP() << ", user locale " << GetUserDefaultLCID();
  ExpectEveryBytePair(FoldAnsi1252);
  ExpectRandomTexts(FoldAnsi1252);
}

}  // namespace
}  // namespace quorrin
