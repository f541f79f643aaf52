// The printed report's pages with a fixed-pitch measure (10 units a
// character, as Courier New gives).
#include <gtest/gtest.h>

#include "report_ui/delivery/print_layout.h"

namespace kestrix {
namespace {

int Fixed(const std::string& text, void*) { return static_cast<int>(text.size()) * 10; }

std::vector<std::string> Wrap(const std::string& line, int columns) { return WrapLine(line, columns * 10, Fixed, nullptr); }

TEST(PrintLayout, WrapsAtBlanksAndInsideLongWords) {
  EXPECT_EQ(Wrap("", 10), (std::vector<std::string>{""}));
  EXPECT_EQ(Wrap("fits right", 10), (std::vector<std::string>{"fits right"}));
  EXPECT_EQ(Wrap("exception message : access violation", 16),
            (std::vector<std::string>{"exception", "message : access", "violation"}));
  EXPECT_EQ(Wrap("0123456789abcdef xy", 8), (std::vector<std::string>{"01234567", "89abcdef", "xy"}));
  EXPECT_EQ(Wrap("abc", 0), (std::vector<std::string>{"a", "b", "c"})) << "a row holds at least one character";
  // Indented text too long for a row: no row of blanks alone.
  EXPECT_EQ(Wrap("      abcdefgh", 10), (std::vector<std::string>{"      abcd", "efgh"}));
  EXPECT_EQ(Wrap("   ab cdefghij", 10), (std::vector<std::string>{"   ab", "cdefghij"}));
}

TEST(PrintLayout, LinesStayTogetherOnAPage) {
  // Three rows a page; the second line wraps into two rows.
  std::string report = "one\r\ntwo words\r\n\r\nfour\r\nfive";
  auto pages = PrintPages(report, 50, 3, Fixed, nullptr);
  ASSERT_EQ(pages.size(), 2u);
  EXPECT_EQ(pages[0], (std::vector<std::string>{"one", "two", "words"}));
  EXPECT_EQ(pages[1], (std::vector<std::string>{"", "four", "five"}));
  // A wrapped line that is moved to the next page when it does not fit.
  pages = PrintPages("a\r\nb\r\nlong line here", 50, 3, Fixed, nullptr);
  ASSERT_EQ(pages.size(), 2u);
  EXPECT_EQ(pages[1], (std::vector<std::string>{"long", "line", "here"}));
  // A line longer than a page runs over pages instead of never fitting.
  pages = PrintPages("aaaaaaaaaaaaaaaaaaaaaaaaaa", 50, 2, Fixed, nullptr);
  ASSERT_EQ(pages.size(), 3u);
  EXPECT_EQ(pages[2], (std::vector<std::string>{"aaaaa", "a"}));
  EXPECT_EQ(PrintPages("x", 50, 0, Fixed, nullptr).size(), 1u);
}

TEST(PrintLayout, ClosingLineBreaksTakeNoSheet) {
  // Three rows a page, filled exactly; the report's closing line breaks
  // would otherwise open a fourth page with nothing on it.
  auto pages = PrintPages("one\r\ntwo\r\nthree\r\n\r\n", 50, 3, Fixed, nullptr);
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_EQ(pages[0], (std::vector<std::string>{"one", "two", "three"}));
  // Blank lines inside the report stay.
  pages = PrintPages("one\r\n\r\ntwo\r\n", 50, 3, Fixed, nullptr);
  EXPECT_EQ(pages[0], (std::vector<std::string>{"one", "", "two"}));
  EXPECT_EQ(PrintPages("", 50, 3, Fixed, nullptr), (std::vector<std::vector<std::string>>{{}}));
  EXPECT_EQ(PrintPages("\r\n\r\n", 50, 3, Fixed, nullptr), (std::vector<std::vector<std::string>>{{}}));
}

TEST(PrintLayout, TabsStopEveryEightColumns) {
  // Twenty columns a row; the expanded blanks count for the width.
  auto pages = PrintPages("a\tb\r\n12345678\tx\r\n\tlong tabbed\r\n\t\tnear", 200, 10, Fixed, nullptr);
  EXPECT_EQ(pages[0], (std::vector<std::string>{"a       b", "12345678        x", "        long tabbed",
                                                "                near"}));
}

}  // namespace
}  // namespace kestrix
