// The tab views' text analysis and builders: small texts that pin the rules
// down, then every tab of reports the crash lab wrote.
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "report_fixtures.h"
#include "report_ui/views/report_tabs.h"

namespace kestrix::views {
namespace {

std::vector<std::string> Cells(const TTabModel& m, int row) { return SplitCells(m.items.at(row).line, m.columns); }

std::vector<std::string> Captions(const TTabModel& m) {
  std::vector<std::string> out;
  for (const TColumn& c : m.columns) out.push_back(c.caption);
  return out;
}

// --- text analysis -----------------------------------------------------------------

TEST(ReportColumns, LinesAndTitleLines) {
  const std::vector<TLineSpan> lines = SplitReportLines("ab\r\n>> title\r\n\r\nxyz");
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0].start, 1);
  EXPECT_EQ(lines[0].length, 2);
  EXPECT_EQ(lines[1].length, -1);
  EXPECT_EQ(lines[2].length, 0);
  EXPECT_EQ(lines[3].start, 17);
  EXPECT_EQ(lines[3].length, 3);
}

TEST(ReportColumns, RunOfBlanksGivesItsLastBlank) {
  std::string text = "abc   12  x\r\nd     345 yy\r\nefgh  6   z";
  const std::vector<int> seps = DetectColumns(text, true);
  EXPECT_EQ(seps, (std::vector<int>{6, 10}));
  const std::vector<std::string> items = ItemLines(text, seps, 3);
  EXPECT_EQ(items[0], "abc  \t12 \tx");
  EXPECT_EQ(items[2], "efgh \t6  \tz");
}

TEST(ReportColumns, SeparatorCharactersBecomeBlanks) {
  std::string text = "eax = 00000001\r\nebx = 0000ffff\r\necx = 12345678";
  const std::vector<int> seps = DetectColumns(text, true);
  EXPECT_EQ(seps, (std::vector<int>{6}));
  EXPECT_EQ(text.substr(0, 6), "eax   ");
  std::string colons = "name: value\r\nitem: other";
  EXPECT_EQ(DetectColumns(colons, false), (std::vector<int>{6}));
  std::string bars = "a|bb|c\r\nd|ee|f";
  EXPECT_EQ(DetectColumns(bars, false), (std::vector<int>{2, 5}));
}

TEST(ReportColumns, DisagreeingLinesAndTitlesAndStrictness) {
  std::string differ = "ab cd\r\nabxcd\r\nab cd";
  EXPECT_TRUE(DetectColumns(differ, false).empty());
  // ">>" lines are skipped, however they look.
  std::string titled = ">> xxxxxxxxxxxxxxxx\r\nab cd\r\nef gh\r\nij kl";
  EXPECT_EQ(DetectColumns(titled, true), (std::vector<int>{3}));
  // One supporting line among the others is enough only without strict.
  std::string two = "ab cd\r\nef gh";
  EXPECT_TRUE(DetectColumns(two, true).empty());
  std::string twoLoose = "ab cd\r\nef gh";
  EXPECT_EQ(DetectColumns(twoLoose, false), (std::vector<int>{3}));
  std::string single = "ab cd";
  EXPECT_EQ(DetectColumns(single, true), (std::vector<int>{3}));
  std::string tiny = "ab\r\ncd";
  EXPECT_TRUE(DetectColumns(tiny, false).empty());
}

TEST(ReportColumns, CaptionPrefixes) {
  const std::vector<TColumn> c = ParseCaptions("^handle|file name| version|^ rel.");
  ASSERT_EQ(c.size(), 4u);
  EXPECT_TRUE(c[0].upperCase);
  EXPECT_EQ(c[0].caption, "handle");
  EXPECT_FALSE(c[1].upperCase || c[1].rightAligned);
  EXPECT_TRUE(c[2].rightAligned);
  EXPECT_EQ(c[2].caption, "version");
  EXPECT_TRUE(c[3].upperCase && c[3].rightAligned);
  EXPECT_EQ(c[3].caption, "rel.");
  EXPECT_EQ(SplitCells("00400000\t a.exe \tx", c), (std::vector<std::string>{"00400000", "a.exe", "x"}));
  EXPECT_EQ(SplitCells("7c80ab\tb", c)[0], "7C80AB");
  EXPECT_EQ(SplitCells(">> title\tx", c), (std::vector<std::string>{">>"}));
}

// --- tabs --------------------------------------------------------------------------------

TEST(ReportTabs, ThreadSectionsShareTheCallStackTab) {
  const TSectionList sections = {{"main thread ($10)", "a"}, {"thread $14", "b"}, {"thread $18", "c"},
                                 {"modules", "m"}, {"cpu registers", "r"}, {"disassembling", "d"}};
  EXPECT_EQ(TabNames(sections),
            (std::vector<std::string>{"general", "call stacks", "modules", "cpu regs", "disasm"}));
  const TSectionList header = {{"date/time", "today"}, {"count", "1"}};
  std::string name;
  EXPECT_EQ(TabText(0, header, sections, &name), "date/time\ttoday\r\ncount\t1");
  EXPECT_EQ(TabText(1, header, sections, &name),
            ">> main thread ($10)\r\na\r\n\r\n>> thread $14\r\nb\r\n\r\n>> thread $18\r\nc");
  EXPECT_EQ(name, "");
  EXPECT_EQ(TabText(2, header, sections, &name), "m");
  EXPECT_EQ(name, "modules");
  EXPECT_EQ(TabText(4, header, sections, &name), "d");
  EXPECT_EQ(name, "disassembling");
  EXPECT_EQ(TabText(5, header, sections, &name), "");
}

TEST(ReportTabs, OneThreadAndLaterThreadSections) {
  const TSectionList sections = {{"main thread ($10)", "a"}, {"modules", "m"}, {"thread $2c", "t"}};
  EXPECT_EQ(TabNames(sections), (std::vector<std::string>{"general", "call stack", "modules", "thread $2c"}));
  EXPECT_EQ(TabText(1, {}, sections), ">> main thread ($10)\r\na");
  EXPECT_EQ(TabText(3, {}, sections), "t");
}

TEST(ReportTabs, BuilderChoice) {
  TTabModel m;
  BuildTab(4, "modules", ">> will be calculated soon", m);
  EXPECT_FALSE(m.ShowsList());  // one line: the text box
  BuildTab(3, "processes", ">> internal error in kxTraceProcess", m);
  EXPECT_EQ(Captions(m), (std::vector<std::string>{"address"}));
  ASSERT_EQ(m.items.size(), 1u);
  EXPECT_FALSE(m.items[0].emphasis);  // an internal error opens no emphasised title
  BuildTab(2, "anything", "plain words here", m);
  EXPECT_FALSE(m.ShowsList());
}

TEST(ReportTabs, ProcessesCaptionsByColumnCount) {
  const std::string four = "00000010  a.exe  normal  C:\\a.exe\r\n00000020  bb.exe  high    C:\\bb.exe\r\n"
                           "00000030  c.exe  idle    C:\\c.exe";
  TTabModel m;
  BuildProcessesTab(four, m);
  EXPECT_EQ(Captions(m), (std::vector<std::string>{"id", "file name", "priority", "path"}));
  const std::string five = "00000010  a.exe   0  normal  C:\\a.exe\r\n00000020  bb.exe  1  high    C:\\bb.exe\r\n"
                           "00000030  c.exe   0  idle    C:\\c.exe";
  BuildProcessesTab(five, m);
  EXPECT_EQ(Captions(m), (std::vector<std::string>{"id", "file name", "session", "priority", "path"}));
  EXPECT_EQ(Cells(m, 1), (std::vector<std::string>{"00000020", "bb.exe", "1", "high", "C:\\bb.exe"}));
}

TEST(ReportTabs, AutoColumnsCaptionLineTreeAndTabs) {
  TTabModel m;
  BuildAutoColumnTab("^name\t value\r\nalpha\t1\r\nbeta\t22", m);
  EXPECT_TRUE(m.header);
  EXPECT_EQ(Captions(m), (std::vector<std::string>{"name", "value"}));
  EXPECT_TRUE(m.columns[1].rightAligned);
  ASSERT_EQ(m.items.size(), 2u);
  EXPECT_EQ(Cells(m, 1), (std::vector<std::string>{"beta", "22"}));

  BuildAutoColumnTab("+ disk\r\n  - C:\r\n  - D:\r\n+ net", m);
  EXPECT_FALSE(m.header);
  EXPECT_TRUE(m.fixedFont);
  ASSERT_EQ(m.columns.size(), 1u);
  EXPECT_EQ(m.items[0].colour, kTreeRowColour);
  EXPECT_EQ(m.items[1].colour, 0u);
  EXPECT_EQ(static_cast<unsigned char>(m.items[1].line[0]), kNoBreakSpace);  // indentation kept

  BuildAutoColumnTab("a\tb\tc\r\nd\te", m);
  EXPECT_EQ(m.columns.size(), 3u);
  // Mostly long lines: no list.
  BuildAutoColumnTab(std::string(90, 'x') + "\r\n" + std::string(90, 'y') + "\r\nz", m);
  EXPECT_FALSE(m.ShowsList());
}

TEST(ReportTabs, AsmCodeWithLineColumnAndCurrentInstruction) {
  const std::string text =
      "; --------------------------- crashlab.NullCall\r\n"
      "0040156a  12   push ebp\r\n"
      "0040156b      >call eax  ; here\r\n"
      "0040156d       ret";
  TTabModel m;
  BuildAsmCodeTab(text, m);
  EXPECT_EQ(Captions(m), (std::vector<std::string>{"address", "line", "asm code", "comments"}));
  ASSERT_EQ(m.items.size(), 4u);
  EXPECT_EQ(m.items[2].colour, kCurrentRowColour);
  EXPECT_EQ(m.items[1].colour, 0u);
  const std::vector<std::string> current = Cells(m, 2);
  ASSERT_EQ(current.size(), 4u);
  EXPECT_EQ(current[0], "0040156b");
  EXPECT_EQ(current[3], "; here");
  // The separator comment keeps "; " and loses the 28 characters after it.
  EXPECT_EQ(m.items[0].line, "; crashlab.NullCall");
}

TEST(ReportTabs, CallStackOfOnlyTitles) {
  TTabModel m;
  BuildCallStackTab(">> main thread ($10)\r\n>> stack not accessible", m);
  EXPECT_EQ(Captions(m), (std::vector<std::string>{"address"}));
  ASSERT_EQ(m.items.size(), 2u);
  EXPECT_TRUE(m.items[0].emphasis);
  EXPECT_FALSE(m.items[1].emphasis);
}

TEST(ReportTabs, CallStackPiecesKeepTheirOwnColumns) {
  const std::string text =
      ">> thread $20\r\n"
      "00401000 +010 crashlab.exe crashlab 120 +3 Work\r\n"
      "00401100 +020 crashlab.exe crashlab  99 +1 ThreadMain\r\n"
      ">> created by main thread ($10) at:\r\n"
      "00402000 +1a0 crashlab.exe lab_start 7 +2 Spawn\r\n"
      "00402200 +004 crashlab.exe lab_start 8 +0 main";
  const std::vector<TCallStackPiece> pieces = SplitCallStackPieces(text);
  ASSERT_EQ(pieces.size(), 2u);
  EXPECT_EQ(pieces[1].text.rfind(">> created", 0), 0u);
  EXPECT_EQ(pieces[0].text.find(">> created"), std::string::npos);
  for (const TCallStackPiece& p : pieces) {
    EXPECT_EQ(p.rel, 1);
    EXPECT_EQ(p.module, 2);
    EXPECT_EQ(p.unit, 3);
    EXPECT_EQ(p.line, 4);
    EXPECT_EQ(p.relLine, 5);
    EXPECT_EQ(p.function, 6);
  }
  EXPECT_NE(pieces[0].separators, pieces[1].separators);
  TTabModel m;
  BuildCallStackTab(text, m);
  EXPECT_EQ(Captions(m), (std::vector<std::string>{"address", "rel.", "module", "unit", "line", "rel.", "function"}));
  EXPECT_EQ(Cells(m, 4), (std::vector<std::string>{"00402000", "+1A0", "crashlab.exe", "lab_start", "7", "+2", "Spawn"}));
  EXPECT_TRUE(m.items[0].emphasis);
  EXPECT_FALSE(m.items[3].emphasis);  // the creator's title follows a call line
  EXPECT_EQ(CallStackJumpLine(m, 1), "00401000 +010 crashlab.exe crashlab 120 +3 Work");
  EXPECT_EQ(CallStackJumpLine(m, 0), "");
  EXPECT_EQ(CallStackJumpLine(m, 99), "");
}

TEST(ReportTabs, CallStackWithoutLinesFindsTheFunction) {
  TCallStackPiece p;
  p.text = "77c10000 ntdll.dll    RtlUserThreadStart\r\n77c20000 kernel32.dll BaseThreadInitThunk\r\n"
           "77c30000 ntdll.dll    _start";
  ClassifyPieceColumns(p);
  EXPECT_EQ(p.rel, -1);
  EXPECT_EQ(p.module, 1);
  EXPECT_EQ(p.line, -1);
  EXPECT_EQ(p.function, 2);
}

// --- reports the crash lab wrote -------------------------------------------------------------

// A report file and the tabs with known layouts it must have.
struct TStoredCase {
  const char* file;
  int knownTabs;
};

class StoredReports : public ::testing::TestWithParam<TStoredCase> {};

TEST_P(StoredReports, EveryTabBuildsItsColumns) {
  const TStoredReport r = LoadStoredReport(GetParam().file);
  ASSERT_GE(r.sections.size(), 3u);
  const std::vector<std::string> names = TabNames(r.sections);
  const std::regex hex8("[0-9a-fA-F]{8}");
  int checked = 0;
  for (int tab = 0; tab < static_cast<int>(names.size()); ++tab) {
    std::string name;
    const std::string text = TabText(tab, r.header, r.sections, &name);
    SCOPED_TRACE(names[tab]);
    ASSERT_FALSE(text.empty());
    TTabModel m;
    BuildTab(tab, name, text, m);
    if (tab == 0) {
      ASSERT_TRUE(m.ShowsList());
      ASSERT_EQ(m.items.size(), r.header.size());
      EXPECT_EQ(Cells(m, 0)[0], "date/time");
      ++checked;
    } else if (tab == 1) {
      ASSERT_TRUE(m.ShowsList());
      const std::vector<std::string> captions = Captions(m);
      for (const char* c : {"address", "module", "unit", "line", "function"})
        EXPECT_NE(std::find(captions.begin(), captions.end(), c), captions.end()) << c;
      EXPECT_TRUE(m.items[0].emphasis);
      const size_t module = std::find(captions.begin(), captions.end(), "module") - captions.begin();
      const size_t function = std::find(captions.begin(), captions.end(), "function") - captions.begin();
      int ownFrames = 0;
      for (size_t i = 0; i < m.items.size(); ++i) {
        if (m.items[i].line.empty() || m.items[i].line.rfind(">>", 0) == 0) continue;
        const std::vector<std::string> cells = Cells(m, static_cast<int>(i));
        EXPECT_TRUE(std::regex_match(cells[0], hex8)) << m.items[i].line;
        if (cells.size() > function && cells[module] == "crashlab.exe" && !cells[function].empty()) ++ownFrames;
      }
      EXPECT_GT(ownFrames, 0);
      ++checked;
    } else if (name == "modules" || name == "processes") {
      ASSERT_TRUE(m.ShowsList());
      EXPECT_EQ(Captions(m)[1], "file name");
      for (size_t i = 0; i < m.items.size(); ++i) {
        const std::vector<std::string> cells = Cells(m, static_cast<int>(i));
        ASSERT_EQ(cells.size(), m.columns.size()) << m.items[i].line;
        EXPECT_TRUE(std::regex_match(cells[0], hex8)) << m.items[i].line;
        EXPECT_NE(cells[1].find('.'), std::string::npos) << m.items[i].line;
      }
      if (name == "modules") {
        EXPECT_EQ(Cells(m, 0)[1], "crashlab.exe");
      }
      ++checked;
    } else if (name == "cpu registers") {
      ASSERT_TRUE(m.ShowsList());
      EXPECT_TRUE(m.fixedFont);
      ASSERT_EQ(m.items.size(), 9u);
      EXPECT_EQ(Cells(m, 0)[0], "eax");
      EXPECT_TRUE(std::regex_match(Cells(m, 8)[1], hex8));
      ++checked;
    } else if (name == "stack dump") {
      ASSERT_TRUE(m.ShowsList());
      for (size_t i = 0; i < m.items.size(); ++i) {
        const std::vector<std::string> cells = Cells(m, static_cast<int>(i));
        ASSERT_EQ(cells.size(), 3u);
        EXPECT_TRUE(std::regex_match(cells[0], hex8));
        EXPECT_TRUE(std::regex_match(cells[1], std::regex("([0-9a-f]{2} ){8}- ([0-9a-f]{2} ?){1,8}|([0-9a-f]{2} ?){1,8}")))
            << cells[1];
      }
      ++checked;
    } else if (name == "disassembling") {
      ASSERT_TRUE(m.ShowsList());
      int current = 0;
      for (const TTabItem& item : m.items) current += item.colour == kCurrentRowColour;
      EXPECT_EQ(current, 1);
      ++checked;
    }
  }
  EXPECT_EQ(checked, GetParam().knownTabs);
}

// general, call stacks, cpu registers, stack dump, disassembling; a C++
// exception has no registers or stack dump.
INSTANTIATE_TEST_SUITE_P(CrashLab, StoredReports,
                         ::testing::Values(TStoredCase{"null-call-threads.txt", 5}, TStoredCase{"cpp-exception.txt", 3},
                                           TStoredCase{"stack-overflow-thread.txt", 5}));

TEST(ReportTabs, ModulesWithRightAlignedVersion) {
  const std::string text =
      "00400000 crashlab.exe   1.2.0.0 Z:\\lab\\crashlab.exe\r\n"
      "7b600000 kernel32.dll  6.1.7601 C:\\windows\\system32\\kernel32.dll\r\n"
      "7bc00000 ntdll.dll     6.1.7601 C:\\windows\\system32\\ntdll.dll\r\n"
      "77000000 user32.dll    6.1.7601 C:\\windows\\system32\\user32.dll";
  TTabModel m;
  BuildModulesTab(text, m);
  EXPECT_EQ(Captions(m), (std::vector<std::string>{"handle", "file name", "version", "path"}));
  EXPECT_TRUE(m.columns[0].upperCase);
  EXPECT_TRUE(m.columns[2].rightAligned);
  EXPECT_EQ(Cells(m, 1), (std::vector<std::string>{"7B600000", "kernel32.dll", "6.1.7601",
                                                   "C:\\windows\\system32\\kernel32.dll"}));
}

}  // namespace
}  // namespace kestrix::views
