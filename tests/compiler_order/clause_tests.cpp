// Both uses clauses of a unit in one pass.
#include <gtest/gtest.h>

#include <random>

#include "analyzer/implementation_uses.h"
#include "analyzer/uses_clause.h"

namespace quorrin {
namespace {

TUnitClauses Scan(const std::string& text, bool project = false) {
  TMemoryStream stream(text);
  return GetUnitClausesFromStream(stream, project);
}

using L = TStringList;

TEST(UnitClauses, ReadsTheClauseAfterImplementation) {
  const TUnitClauses c = Scan("unit A;\r\ninterface\r\nuses B, C;\r\nimplementation\r\nuses D,\r\n  E;\r\nend.\r\n");
  EXPECT_EQ(c.Interface, (L{"B", "C"}));
  EXPECT_EQ(c.Implementation, (L{"D", "E"}));
  // Keywords in any case; LF line ends.
  EXPECT_EQ(Scan("unit A;\nINTERFACE\nIMPLEMENTATION\nUSES\n  D;\n").Implementation, (L{"D"}));
  // Only the implementation clause.
  const TUnitClauses impl = Scan("unit A;\ninterface\nimplementation uses X;\nend.\n");
  EXPECT_TRUE(impl.Interface.empty());
  EXPECT_EQ(impl.Implementation, (L{"X"}));
}

TEST(UnitClauses, CommentsAndDirectivesFollowTheInterfaceRules) {
  EXPECT_EQ(Scan("interface\nimplementation\n{$R *.res}\nuses A, { B,\nC, } D;\n").Implementation, (L{"A", "D"}));
  EXPECT_EQ(Scan("interface\nimplementation\nuses A, (* x *) B;\n").Implementation, (L{"A", "B"}));
  EXPECT_EQ(Scan("interface\nimplementation // uses X;\nuses A, // B\nC;\n").Implementation, (L{"A", "C"}));
  // Units between conditional directives are all kept.
  EXPECT_EQ(Scan("interface\nimplementation\nuses {$IFDEF FPC} A, {$ELSE} B, {$ENDIF} C;\n").Implementation,
            (L{"A", "B", "C"}));
  // A comment left open in the interface section hides an "implementation"
  // inside it; the comment state runs on into the implementation.
  const TUnitClauses open = Scan("interface\nuses A; { note\nimplementation }\nimplementation\nuses B;\n");
  EXPECT_EQ(open.Interface, (L{"A"}));
  EXPECT_EQ(open.Implementation, (L{"B"}));
  // Comma-text: blanks separate, doubled commas give an empty name.
  EXPECT_EQ(Scan("interface\nimplementation\nuses A B,,C;\n").Implementation, (L{"A", "B", "", "C"}));
}

TEST(UnitClauses, OnlyAUsesClauseOpeningTheSectionCounts) {
  // Declarations come first: no clause, although "uses" follows later.
  EXPECT_TRUE(Scan("interface\nimplementation\nconst N = 1;\nprocedure P; begin end;\nvar uses : Integer;\n")
                  .Implementation.empty());
  EXPECT_TRUE(Scan("interface\nuses A;\nimplementation\nend.\n").Implementation.empty());
  EXPECT_TRUE(Scan("interface\nuses A;\n").Implementation.empty());
  EXPECT_TRUE(Scan("unit A;\nimplementation\nuses B;\n").Implementation.empty());  // no interface at all
  // "reuses" is not the keyword.
  EXPECT_TRUE(Scan("interface\nimplementation\nreuses A;\n").Implementation.empty());
}

TEST(UnitClauses, TheImplementationKeywordMustStandAlone) {
  // The interface scan stops inside the identifier, as the window's does;
  // the implementation clause is still found after the real keyword.
  const TUnitClauses c = Scan(
      "interface\nuses A;\ntype IImplementationInfo = interface end;\nimplementation\nuses B;\n");
  EXPECT_EQ(c.Interface, (L{"A"}));
  EXPECT_EQ(c.Implementation, (L{"B"}));
  EXPECT_EQ(Scan("interface\nimplementation_x; implementation uses C;\n").Implementation, (L{"C"}));
  // A unit on one line: the interface scan runs to the end of the file.
  const TUnitClauses one = Scan("unit A; interface uses B; implementation uses C; end.");
  EXPECT_EQ(one.Interface, (L{"B"}));
  EXPECT_EQ(one.Implementation, (L{"C"}));
}

TEST(UnitClauses, ProjectFilesHaveTheProgramClauseOnly) {
  const TUnitClauses c = Scan("program P;\nuses A in 'a.pas', B;\nimplementation uses C;\nbegin\nend.\n", true);
  EXPECT_EQ(c.Interface, (L{"A", "B"}));
  EXPECT_TRUE(c.Implementation.empty());
}

// The interface names must be exactly the window's, whatever the text.
TEST(UnitClauses, InterfaceNamesEqualTheWindowScannerOnRandomText) {
  const char* pieces[] = {"interface", "implementation", "Implementation", "uses", "USES", " ", "\r\n", "\n",
                          ",",         ";",              "{",              "}",    "(*",   "*)", "//", "A",
                          "Bee",       "\"q\"",          "begin",          "x",    "\t",   "unit U;"};
  std::mt19937 rng(77);
  for (int round = 0; round < 20000; ++round) {
    std::string text;
    const int n = static_cast<int>(rng() % 40);
    for (int i = 0; i < n; ++i) text += pieces[rng() % (sizeof pieces / sizeof *pieces)];
    TMemoryStream window(text);
    ASSERT_EQ(Scan(text).Interface, GetUsesListFromStream(window, false)) << text;
  }
}

}  // namespace
}  // namespace quorrin
