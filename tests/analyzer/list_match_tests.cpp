// The order list's match: code page 1252's table, and the order list against
// the unit records (whose lookup keeps the runtime's ASCII rule).
#include <gtest/gtest.h>

#include "analyzer/analysis.h"
#include "analyzer/list_match.h"

namespace quorrin {
namespace {

// Texts of one row match each other and no text of another row.
void ExpectRows(const std::vector<TStringList>& rows) {
  for (size_t r = 0; r < rows.size(); ++r)
    for (const std::string& text : rows[r])
      for (size_t o = 0; o < rows.size(); ++o)
        for (const std::string& other : rows[o])
          EXPECT_EQ(FoldAnsi1252(text) == FoldAnsi1252(other), r == o)
              << "row " << r << " \"" << text << "\" against row " << o << " \"" << other << "\"";
}

TEST(ListMatch1252, LettersLigaturesAndIgnoredBytes) {
  ExpectRows({
      {"Unit1.pas", "UNIT1.PAS", "unit1.pas"},
      {"\xC9" "clair.pas", "\xE9" "clair.pas", "\xC9" "CLAIR.PAS", "\xE9" "cl\xAD" "air.pas"},  // É é, soft hyphen
      {"Eclair.pas"},
      {"\x8A", "\x9A"},                        // Š š
      {"\x8E", "\x9E"},                        // Ž ž
      {"\x9F", "\xFF"},                        // Ÿ ÿ
      {"\xC0\xDD", "\xE0\xFD"},                // ÀÝ àý: the ends of the letter block
      {"\xD7"},                                // × is no letter
      {"\xF7"},                                // ÷
      {"\xC6", "\xE6", "ae", "AE", "aE"},      // Æ æ
      {"\x8C", "\x9C", "oe", "OE"},            // Œ œ
      {"\xDF", "ss", "SS"},                    // ß
      {"\xDE", "\xFE", "th", "TH"},            // Þ þ
      {"^", "\x88"},                           // ^ ˆ
      {"\xB5"},                                // µ: its capital is not in the code page
      {"m"},
      {"\xAA"},                                // ª
      {"a"},
      {"\xB2"},                                // ²
      {"2"},
      {"co-op"},
      {"coop"},
      {"\x85"},                                // …
      {"..."},
      {"\x81", "\x81\xAD"},                    // a byte the code page does not define
      {"\x8D"},
  });
}

TEST(ListMatch1252, EveryByteFoldsToAFixedPoint) {
  // A byte folded onto one that folds further would split a class.
  for (int b = 0; b < 256; ++b) {
    const std::string folded = FoldAnsi1252(std::string(1, static_cast<char>(b)));
    EXPECT_EQ(FoldAnsi1252(folded), folded) << "byte " << b;
  }
}

TEST(OrderList, MatchesAsTheListControlWhileUnitRecordsIgnoreOnlyAsciiCase) {
  TOrderList order;
  order.Add("\xC9" "clair.pas", nullptr);  // Éclair
  order.Add("Unit1.pas", nullptr);
  EXPECT_EQ(order.IndexOf("\xE9" "clair.pas"), 0);
  EXPECT_EQ(order.IndexOf("\xC9" "CLAIR.PAS"), 0);
  EXPECT_EQ(order.IndexOf("Eclair.pas"), -1);
  EXPECT_EQ(order.IndexOf("UNIT1.pas"), 1);
  // A second matching text does not take the first one's place.
  order.Add("\xE9" "clair.pas", nullptr);
  EXPECT_EQ(order.IndexOf("\xE9" "clair.pas"), 0);
  order.Clear();
  EXPECT_EQ(order.IndexOf("\xC9" "clair.pas"), -1);

  TLoadedUnitList units;
  units.Add(std::make_unique<TLoadedUnit>(TLoadedUnit{"\xC9" "clair.pas", "", ""}));
  EXPECT_EQ(units.IndexOf("\xC9" "CLAIR.PAS"), 0);
  EXPECT_EQ(units.IndexOf("\xE9" "clair.pas"), -1);
}

}  // namespace
}  // namespace quorrin
