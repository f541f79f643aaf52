// The line reader, the uses-clause scanner and the initialization-section
// scan over bytes held in memory.
#include <gtest/gtest.h>

#include "analyzer/init_section.h"
#include "analyzer/stream.h"
#include "analyzer/text_utils.h"
#include "analyzer/uses_clause.h"

namespace quorrin {
namespace {

TStringList ReadAllLines(const std::string& bytes) {
  TMemoryStream s(bytes);
  TStringList lines;
  while (!StreamEof(s)) lines.push_back(StreamReadLn(s));
  return lines;
}

TEST(LineReader, LineEndsAndFinalLine) {
  EXPECT_EQ(ReadAllLines("x\r\ny"), (TStringList{"x", "y"}));
  EXPECT_EQ(ReadAllLines("x\n\n"), (TStringList{"x", ""}));
  EXPECT_EQ(ReadAllLines(""), TStringList{});
  EXPECT_EQ(ReadAllLines("abc\r\r\n"), (TStringList{"abc\r"}));
  // CR alone does not end a line; only a trailing CR is removed.
  EXPECT_EQ(ReadAllLines("a\rb\rc\r"), (TStringList{"a\rb\rc"}));
  EXPECT_EQ(ReadAllLines("\xEF\xBB\xBFunit A;\n"), (TStringList{"\xEF\xBB\xBFunit A;"}));
  EXPECT_EQ(ReadAllLines(std::string("a\0b\nc", 5)), (TStringList{std::string("a\0b", 3), "c"}));
}

TEST(LineReader, LeavesPositionAfterTheLineFeed) {
  // Lines longer than the reader's chunk, and a position check after each.
  const std::string longLine(1500, 'q');
  TMemoryStream s(longLine + "\n" + "z\n");
  EXPECT_EQ(StreamReadLn(s), longLine);
  EXPECT_EQ(s.Position(), 1501);
  EXPECT_EQ(StreamReadLn(s), "z");
  EXPECT_TRUE(StreamEof(s));
}

TEST(CommaText, SplitRules) {
  EXPECT_EQ(SplitCommaText("A, B"), (TStringList{"A", "B"}));
  EXPECT_EQ(SplitCommaText("A B"), (TStringList{"A", "B"}));
  EXPECT_EQ(SplitCommaText("A,,B"), (TStringList{"A", "", "B"}));
  EXPECT_EQ(SplitCommaText("A, ,B"), (TStringList{"A", "", "B"}));
  EXPECT_EQ(SplitCommaText("A,"), (TStringList{"A", ""}));
  EXPECT_EQ(SplitCommaText("A, "), (TStringList{"A"}));
  EXPECT_EQ(SplitCommaText(",A"), (TStringList{"", "A"}));
  EXPECT_EQ(SplitCommaText(""), TStringList{});
  EXPECT_EQ(SplitCommaText("  \t "), TStringList{});
  EXPECT_EQ(SplitCommaText("System.SysUtils,Vcl.Forms"), (TStringList{"System.SysUtils", "Vcl.Forms"}));
  EXPECT_EQ(SplitCommaText("\"a b\",c"), (TStringList{"a b", "c"}));
  EXPECT_EQ(SplitCommaText("\"say \"\"hi\"\"\" x"), (TStringList{"say \"hi\"", "x"}));
  EXPECT_EQ(SplitCommaText("\"open, end"), (TStringList{"open, end"}));
  EXPECT_EQ(SplitCommaText(std::string("A,B\0,C", 6)), (TStringList{"A", "B"}));
  EXPECT_EQ(SplitCommaText("\xC4pfel,B"), (TStringList{"\xC4pfel", "B"}));
}

TEST(FileNames, PartsSplitAtBackslashOrColon) {
  EXPECT_EQ(ExtractFileExt("C:\\a.b\\unit.PAS"), ".PAS");
  EXPECT_EQ(ExtractFileExt("C:\\a.b\\unit"), "");
  EXPECT_EQ(ExtractFileExt("x.tar.dpr"), ".dpr");
  EXPECT_EQ(ExtractFileName("C:\\proj\\app.dpr"), "app.dpr");
  EXPECT_EQ(ExtractFileName("C:app.dpr"), "app.dpr");
  EXPECT_EQ(ExtractFileDir("C:\\proj\\app.dpr"), "C:\\proj");
  EXPECT_EQ(ExtractFileDir("C:\\app.dpr"), "C:\\");
  EXPECT_EQ(ExtractFileDir("\\\\server\\share\\a.dpr"), "\\\\server\\share");
  EXPECT_EQ(ExtractFileDir("app.dpr"), "");
  EXPECT_EQ(SplitMemoLines("a\r\nb\r\n"), (TStringList{"a", "b"}));
  EXPECT_EQ(SplitMemoLines("a\r\n\r\nb"), (TStringList{"a", "", "b"}));
  EXPECT_EQ(SplitMemoLines("a\r\n\r\n"), (TStringList{"a", ""}));
  EXPECT_EQ(SplitMemoLines(""), TStringList{});
  EXPECT_TRUE(IsProjectFile("C:\\x\\A.DPR"));
  EXPECT_TRUE(IsProjectFile("a.Lpr"));
  EXPECT_FALSE(IsProjectFile("a.dpk"));
  EXPECT_FALSE(IsProjectFile("dpr"));
}

TStringList Project(const std::string& text) {
  TMemoryStream s(text);
  return GetUsesListFromStream(s, true);
}

TStringList Unit(const std::string& text) {
  TMemoryStream s(text);
  return GetUsesListFromStream(s, false);
}

TEST(UsesClause, ProjectFile) {
  EXPECT_EQ(Project("program P;\r\nuses\r\n  Forms,\r\n  Unit1 in 'Unit1.pas' {Form1};\r\n{$R *.res}\r\nbegin\r\nend.\r\n"),
            (TStringList{"Forms", "Unit1"}));
  // The begin inside "Beginner" ends the scan before the clause's ';'.
  EXPECT_EQ(Project("program P;\r\nuses Beginner;\r\nbegin end."), (TStringList{}));
  // Several in-paths on one line; upper-case IN is not recognised.
  EXPECT_EQ(Project("uses A in 'a.pas', B in 'x\\b.pas', C;\nbegin"), (TStringList{"A", "B", "C"}));
  EXPECT_EQ(Project("uses A IN 'a.pas';\nbegin"), (TStringList{"A", "IN", "'a.pas'"}));
  // No quote after " in ": the line stays, and its begin ends the scan.
  EXPECT_EQ(Project("uses A;\nbegin if c in s then"), (TStringList{"A"}));
  EXPECT_EQ(Project("uses A, B\nbegin"), (TStringList{"A", "B"}));
}

TEST(UsesClause, Comments) {
  const std::string head = "unit U;\ninterface\n";
  EXPECT_EQ(Unit(head + "uses A, { B,\nC, } D;\nimplementation\n"), (TStringList{"A", "D"}));
  EXPECT_EQ(Unit(head + "uses A, (* x *) B;\nimplementation\n"), (TStringList{"A", "B"}));
  EXPECT_EQ(Unit(head + "uses A, // B\nC;\nimplementation\n"), (TStringList{"A", "C"}));
  EXPECT_EQ(Unit(head + "uses {$IFDEF X}A,{$ELSE}B,{$ENDIF} C;\n"), (TStringList{"A", "B", "C"}));
  // Inside a brace comment "(*" and "//" mean nothing.
  EXPECT_EQ(Unit(head + "uses A, { (* // } B;\n"), (TStringList{"A", "B"}));
  EXPECT_EQ(Unit(head + "uses A, (* { *) B;\n"), (TStringList{"A", "B"}));
  // The comment on the "interface" line is gone before the keyword is looked for.
  EXPECT_EQ(Unit("unit U; { interface }\ninterface uses X;\nimplementation"), (TStringList{"X"}));
  // A comment that never closes swallows the rest.
  EXPECT_EQ(Unit(head + "uses A, { B;\nC;\n"), (TStringList{"A"}));
}

TEST(UsesClause, UnitFile) {
  EXPECT_EQ(Unit("unit U;\ninterface\nuses A, B;\nimplementation\nuses C;\nend."), (TStringList{"A", "B"}));
  EXPECT_EQ(Unit("unit U;\ninterface\nconst X = 1;\nimplementation\nuses C;\nend."), (TStringList{}));
  EXPECT_EQ(Unit("unit U;\nimplementation\nuses C;\nend."), (TStringList{}));
  // The rest of the interface line (after keyword and one character) counts.
  EXPECT_EQ(Unit("unit U; interface uses A;\nimplementation"), (TStringList{"A"}));
  EXPECT_EQ(Unit("unit U;\nINTERFACE\nUSES A;\nIMPLEMENTATION"), (TStringList{"A"}));
  EXPECT_EQ(Unit("unit U;\ninterface\nreuses A;\nuses B;\n"), (TStringList{"B"}));
  // A text that ends with "uses" has no keyword.
  EXPECT_EQ(Unit("unit U;\ninterface\nconst uses"), (TStringList{}));
  EXPECT_EQ(Unit("unit U;\ninterface\nuses A,,B;\n"), (TStringList{"A", "", "B"}));
  // No ';': every further word up to the stop keyword; line breaks are
  // removed, not turned into blanks.
  EXPECT_EQ(Unit("unit U;\ninterface\nuses A, B\ntype T = X\nimplementation"),
            (TStringList{"A", "Btype", "T", "=", "X"}));
  // The keyword needs a separator on both sides: a tab and line ends count.
  EXPECT_EQ(Unit("unit U;\ninterface\n\tuses\tA;"), (TStringList{"A"}));
  EXPECT_EQ(Unit("unit U;\ninterface\nuses;A;"), (TStringList{}));
  // A ".pas" file read as a unit even when it looks like a program.
  EXPECT_EQ(Unit("program P;\nuses A;\nbegin end."), (TStringList{}));
}

TEST(UsesClause, StripCommentsReportsLookAgain) {
  CommentStripper c;
  std::string line = "A{x}B{y}C";
  size_t start = 1;
  EXPECT_TRUE(c.StripComments(line, start));
  EXPECT_EQ(line, "AB{y}C");
  EXPECT_TRUE(c.StripComments(line, start));
  EXPECT_EQ(line, "ABC");
  EXPECT_FALSE(c.StripComments(line, start));
  line = "{only}";
  EXPECT_FALSE(c.StripComments(line, start));
  EXPECT_EQ(line, "");
  EXPECT_EQ(c.state, CommentState::None);
}

std::string Section(const std::string& text) {
  TMemoryStream s(text);
  return GetInitializationSectionFromStream(s);
}

TEST(InitSection, Keywords) {
  EXPECT_EQ(Section("unit A; interface implementation initialization X; end.\r\n"), "initialization X; end.\r\n");
  EXPECT_EQ(Section("unit A;\r\nimplementation\r\nprocedure P;\r\nbegin\r\nend;\r\nend.\r\n"), "");
  EXPECT_EQ(Section("unit A;\r\ninitialization\r\n  if F then\r\n  begin\r\n    G;\r\n  end;\r\nend.\r\n"), "");
  EXPECT_EQ(Section("unit A;\r\nbegin\r\n  H;\r\nend.\r\n"), "begin\r\n  H;\r\nend.\r\n");
  EXPECT_EQ(Section("unit A;\r\nINITIALIZATION\r\n  X;\r\nEND."), "INITIALIZATION\r\n  X;\r\nEND.");
  EXPECT_EQ(Section("unit A;\ninitialization\n  X;\nfinalization\n  Y;\nend."),
            "initialization\n  X;\nfinalization\n  Y;\nend.");
  // A word ending in "end" followed by ';' counts as "end;".
  EXPECT_EQ(Section("unit A;\ninitialization\n  Append;\nend."), "");
  // Words that begin with a keyword match.
  EXPECT_EQ(Section("unit A;\nBeginning := 1;\nend."), "Beginning := 1;\nend.");
}

TEST(InitSection, FirstByteIsNeverRead) {
  EXPECT_EQ(Section(""), "");
  EXPECT_EQ(Section("b"), "");
  EXPECT_EQ(Section("begin X end."), "");
  EXPECT_EQ(Section(" begin X end."), "begin X end.");
  // A keyword at the end that is shorter than the keyword does not match.
  EXPECT_EQ(Section("xx begi"), "");
}

TEST(InitSection, KeywordsAcrossBlockBoundaries) {
  // Place the keyword so that it straddles the scanner's block edges.
  for (size_t pad : {4090u, 4095u, 4096u, 4097u, 4100u, 8185u, 8192u}) {
    std::string text = "unit A;\n" + std::string(pad, 'x') + "initialization\n  X;\nend.";
    text += std::string(5000, 'y');
    EXPECT_EQ(Section(text), text.substr(8 + pad)) << pad;
    std::string noSection = "unit A;\nbegin\n" + std::string(pad, 'x') + "end;" + std::string(4100, 'y');
    EXPECT_EQ(Section(noSection), "") << pad;
  }
  // A keyword far before the end behind many stop letters.
  std::string text = "xinitialization" + std::string(20000, 'e') + "\n";
  EXPECT_EQ(Section(text), text.substr(1));
}

}  // namespace
}  // namespace quorrin
