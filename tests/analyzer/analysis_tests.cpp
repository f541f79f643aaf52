// Unit resolution, the tree, the order and the section texts over real
// project folders.
#include <gtest/gtest.h>
#include <windows.h>

#include "analyzer/analysis.h"
#include "analyzer/errors.h"
#include "analyzer/platform_fs.h"
#include "tests/helpers/win/temp_dir.h"

namespace quorrin {
namespace {

using testing::TempDir;

struct LogLines : IAnalysisLog {
  TStringList lines;
  void Log(const std::string& text) override { lines.push_back(text); }
};

std::string UnitText(const std::string& name, const std::string& uses, const std::string& init = "") {
  std::string text = "unit " + name + ";\r\n\r\ninterface\r\n\r\n";
  if (!uses.empty()) text += "uses " + uses + ";\r\n\r\n";
  text += "implementation\r\n\r\nuses Hidden;\r\n\r\nprocedure P;\r\nbegin\r\nend;\r\n\r\n";
  if (!init.empty()) text += "initialization\r\n  " + init + "\r\n";
  return text + "end.\r\n";
}

// Runs a whole analysis as the Browse button does.
struct Analysis {
  LogLines log;
  TLoadedUnitList units;
  TProjectAnalyzer analyzer;
  Analysis(const std::string& project, TStringList searchPaths) : analyzer(log, units, std::move(searchPaths)) {
    EnterProjectDirectory(project, log);
    analyzer.AnalyzeProject(project);
  }
  const TUnitTree& tree() const { return analyzer.Tree(); }
  TStringList Order() const {
    TStringList r;
    for (int i = 0; i < analyzer.Order().Count(); ++i) r.push_back(analyzer.Order()[i].Text);
    return r;
  }
  // The tree as indented text, two blanks per level.
  std::string TreeText() const {
    std::string out;
    std::vector<std::pair<int, int>> stack{{0, 0}};
    while (!stack.empty()) {
      auto [n, depth] = stack.back();
      stack.pop_back();
      out += std::string(depth * 2, ' ') + tree()[n].Text + "\n";
      const auto& c = tree()[n].Children;
      for (auto it = c.rbegin(); it != c.rend(); ++it) stack.emplace_back(*it, depth + 1);
    }
    return out;
  }
};

TEST(Analysis, LookupLogLinesAndSearchOrder) {
  TempDir dir;
  const std::string project = dir.Write("app\\App.dpr", "program App;\r\nuses\r\n  Forms,\r\n  Unit1 in 'Unit1.pas' {Form1};\r\n{$R *.res}\r\nbegin\r\nend.\r\n");
  dir.Write("app\\Unit1.pas", UnitText("Unit1", "Shared"));
  dir.Write("lib1\\Shared.pas", UnitText("Shared", ""));
  dir.Write("lib2\\Shared.pas", UnitText("Shared", "", "Second := True;"));
  Analysis a(project, {dir / "lib1", dir / "lib2\\", "..\\lib1"});

  const std::string appDir = dir / "app";
  EXPECT_EQ(a.log.lines, (TStringList{
      "current dir: " + appDir,
      // Forms: every search path fails, last line first, then the empty result.
      "file \"..\\lib1\\Forms.pas\" not found. expands to: " + (dir / "lib1\\Forms.pas"),
      "file \"" + (dir / "lib2\\Forms.pas") + "\" not found. expands to: " + (dir / "lib2\\Forms.pas"),
      "file \"" + (dir / "lib1\\Forms.pas") + "\" not found. expands to: " + (dir / "lib1\\Forms.pas"),
      "found actual unit for \"Forms.pas\": ",
      // The project's directory wins over every search path.
      "found actual unit for \"Unit1.pas\": " + (dir / "app\\Unit1.pas"),
      // The later search path line wins: the relative "..\lib1" is the last line.
      "found actual unit for \"Shared.pas\": " + (dir / "lib1\\Shared.pas"),
  }));
  EXPECT_EQ(a.TreeText(), "App.dpr\n  Forms.pas\n  Unit1.pas\n    Shared.pas\n");
  EXPECT_EQ(a.Order(), (TStringList{"Forms.pas", "Shared.pas", "Unit1.pas", "App.dpr"}));
  EXPECT_EQ(a.tree()[0].Data, nullptr);
  EXPECT_EQ(SectionViewText(a.tree()[0].Data), "object not found");
  const TLoadedUnit* forms = a.tree()[1].Data;
  ASSERT_NE(forms, nullptr);
  EXPECT_EQ(SectionViewText(forms), "Forms.pas : unit file not found in project search path or IDE library path");
  // A found unit without a section: its path, a line break and an empty line.
  EXPECT_EQ(SectionViewText(a.tree()[3].Data), dir / "lib1\\Shared.pas" + "\r\n\r\n");
}

TEST(Analysis, SearchPathLinesAreUsedAsTyped) {
  TempDir dir;
  const std::string project = dir.Write("p\\P.dpr", "uses A, B, C;\r\nbegin end.");
  dir.Write("lib\\A.pas", UnitText("A", ""));
  dir.Write("lib\\B.pas", UnitText("B", ""));
  // "lib" and "lib\" give the same candidate; a trailing blank names another folder.
  Analysis a(project, {"..\\lib ", "..\\lib\\", ""});
  EXPECT_EQ(a.log.lines[1], "file \"\\A.pas\" not found. expands to: " + ExpandFileName("\\A.pas"));
  EXPECT_EQ(a.log.lines[2], "found actual unit for \"A.pas\": " + (dir / "lib\\A.pas"));
  EXPECT_EQ(a.log.lines[6], "file \"..\\lib\\C.pas\" not found. expands to: " + (dir / "lib\\C.pas"));
  EXPECT_EQ(a.log.lines[7], "file \"..\\lib \\C.pas\" not found. expands to: " + ExpandFileName("..\\lib \\C.pas"));
  EXPECT_EQ(a.Order(), (TStringList{"A.pas", "B.pas", "C.pas", "P.dpr"}));
}

TEST(Analysis, RepeatedUnitsCasesAndCycles) {
  TempDir dir;
  const std::string project = dir.Write("P.dpr", "uses SysUtils, A, B;\r\nbegin end.");
  dir.Write("SysUtils.pas", UnitText("SysUtils", ""));
  dir.Write("A.pas", UnitText("A", "sysutils, B", "A_Init;"));
  dir.Write("B.pas", UnitText("B", "A, C"));  // B and A use each other
  dir.Write("C.pas", UnitText("C", "SYSUTILS"));
  Analysis a(project, {});
  EXPECT_EQ(a.TreeText(),
            "P.dpr\n"
            "  SysUtils.pas\n"
            "  A.pas\n"
            "    sysutils.pas\n"
            "    B.pas\n"
            "      A.pas\n"
            "      C.pas\n"
            "        SYSUTILS.pas\n"
            "  B.pas\n");
  // One record and one lookup per unit, whatever the case.
  EXPECT_EQ(a.units.Count(), 4);
  int lookups = 0;
  for (const auto& line : a.log.lines) lookups += line.rfind("found actual unit for", 0) == 0;
  EXPECT_EQ(lookups, 4);
  EXPECT_EQ(a.tree()[1].Data, a.tree()[3].Data);
  EXPECT_EQ(a.tree()[2].Data, a.tree()[5].Data);
  // Each unit once, with the case of its first occurrence; in the cycle the
  // leaf occurrence of A is met first and places A before C and B.
  EXPECT_EQ(a.Order(), (TStringList{"SysUtils.pas", "A.pas", "C.pas", "B.pas", "P.dpr"}));
  EXPECT_EQ(SectionViewText(a.tree()[2].Data), dir / "A.pas" + "\r\n\r\ninitialization\r\n  A_Init;\r\nend.\r\n");
}

TEST(Analysis, OrderMatchesNamesAsTheListControlDoes) {
  TempDir dir;
  // A names Éclair, B names éclair: the records keep the runtime's ASCII
  // rule, the order list matches as the window's list control does.
  const std::string project = dir.Write("P.dpr", "uses A, B;\r\nbegin end.");
  dir.Write("A.pas", UnitText("A", "\xC9" "clair"));
  dir.Write("B.pas", UnitText("B", "\xE9" "clair, Sub"));
  const std::string eclair = dir.Write("\xC9" "clair.pas", UnitText("\xC9" "clair", "Sub", "Bake;"));
  dir.Write("Sub.pas", UnitText("Sub", ""));
  Analysis a(project, {});
  EXPECT_EQ(a.TreeText(),
            "P.dpr\n"
            "  A.pas\n"
            "    \xC9" "clair.pas\n"
            "      Sub.pas\n"
            "  B.pas\n"
            "    \xE9" "clair.pas\n"
            "      Sub.pas\n"
            "    Sub.pas\n");
  // Two records for the one file, each looked up and read.
  EXPECT_EQ(a.units.Count(), 5);
  const TLoadedUnit* first = a.tree()[2].Data;
  const TLoadedUnit* second = a.tree()[5].Data;
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_NE(first, second);
  EXPECT_EQ(first->FullPath, eclair);
  EXPECT_EQ(second->FullPath, dir / "\xE9" "clair.pas");  // found ignoring case, named as asked for
  // One order entry, with the first occurrence's text and record.
  EXPECT_EQ(a.Order(), (TStringList{"Sub.pas", "\xC9" "clair.pas", "A.pas", "B.pas", "P.dpr"}));
  EXPECT_EQ(a.analyzer.Order()[1].Data, first);
}

TEST(Analysis, PasFileAsProjectAndEmptyProject) {
  TempDir dir;
  const std::string root = dir.Write("Main.pas", UnitText("Main", "Dep", "Go;"));
  dir.Write("Dep.pas", UnitText("Dep", ""));
  Analysis a(root, {});
  ASSERT_NE(a.tree()[0].Data, nullptr);
  EXPECT_EQ(a.tree()[0].Data->UnitFile, root);
  EXPECT_EQ(a.tree()[0].Data->InitText, "initialization\r\n  Go;\r\nend.\r\n");
  EXPECT_EQ(a.Order(), (TStringList{"Dep.pas", "Main.pas"}));
  EXPECT_EQ(a.analyzer.Order()[1].Data, a.tree()[0].Data);

  Analysis empty(dir.Write("E.lpr", "program E;\r\nbegin\r\nend."), {});
  EXPECT_EQ(empty.TreeText(), "E.lpr\n");
  EXPECT_EQ(empty.Order(), TStringList{"E.lpr"});
}

TEST(Analysis, OpenErrorStopsWithThePartialTree) {
  TempDir dir;
  const std::string project = dir.Write("P.dpr", "uses A, Locked, Z;\r\nbegin end.");
  dir.Write("A.pas", UnitText("A", ""));
  const std::string locked = dir.Write("Locked.pas", UnitText("Locked", "A"));
  dir.Write("Z.pas", UnitText("Z", ""));
  HANDLE writer = CreateFileA(locked.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  LogLines log;
  TLoadedUnitList units;
  TProjectAnalyzer analyzer(log, units, {});
  EnterProjectDirectory(project, log);
  try {
    analyzer.AnalyzeProject(project);
    ADD_FAILURE() << "no open error";
  } catch (const EFOpenError& e) {
    EXPECT_EQ(std::string(e.what()).rfind("Cannot open file \"" + locked + "\". ", 0), 0u) << e.what();
  }
  CloseHandle(writer);
  // The nodes so far stay, the unit being opened has no record, no order.
  EXPECT_EQ(analyzer.Tree().Count(), 3);
  EXPECT_EQ(analyzer.Tree()[2].Text, "Locked.pas");
  EXPECT_EQ(analyzer.Tree()[2].Data, nullptr);
  EXPECT_EQ(units.Count(), 1);
  EXPECT_EQ(analyzer.Order().Count(), 0);
}

TEST(Analysis, NameWithADirectoryPartIsOpenedAsItStands) {
  TempDir dir;
  // An upper-case IN is not removed: the quoted path becomes a unit name.
  const std::string project = dir.Write("P.dpr", "uses A IN 'x:\\nowhere\\A.pas';\r\nbegin end.");
  dir.Write("A.pas", UnitText("A", ""));
  LogLines log;
  TLoadedUnitList units;
  TProjectAnalyzer analyzer(log, units, {});
  EnterProjectDirectory(project, log);
  EXPECT_THROW(analyzer.AnalyzeProject(project), EFOpenError);
  EXPECT_EQ(analyzer.Tree().Count(), 4);  // root, A, IN, the path
  EXPECT_EQ(units.Count(), 2);            // A and IN (not found)
}

TEST(Analysis, DeepChainDoesNotExhaustTheStack) {
  TempDir dir;
  // Deeper chains are run through quorrin-cli, whose files the test
  // writes outside Wine (creating files in a large folder is slow there).
  const int depth = 3000;
  dir.Write("Deep.dpr", "program Deep;\r\nuses U0;\r\nbegin end.");
  for (int i = 0; i < depth; ++i) {
    const std::string name = "U" + std::to_string(i);
    dir.Write(name + ".pas", UnitText(name, i + 1 < depth ? "U" + std::to_string(i + 1) : ""));
  }
  Analysis a(dir / "Deep.dpr", {});
  EXPECT_EQ(a.tree().Count(), depth + 1);
  EXPECT_EQ(a.tree()[depth].Parent, depth - 1);
  const TStringList order = a.Order();
  ASSERT_EQ(order.size(), static_cast<size_t>(depth + 1));
  EXPECT_EQ(order.front(), "U" + std::to_string(depth - 1) + ".pas");
  EXPECT_EQ(order[depth - 1], "U0.pas");
  EXPECT_EQ(order.back(), "Deep.dpr");
}

TEST(Analysis, ProjectDirectory) {
  TempDir dir;
  LogLines log;
  EnterProjectDirectory(dir / "P.dpr", log);
  EXPECT_EQ(log.lines.back(), "current dir: " + dir.Path());
  // A folder that does not exist: the directory really in force is logged.
  EnterProjectDirectory(dir / "missing\\P.dpr", log);
  EXPECT_EQ(log.lines.back(), "current dir: " + dir.Path());
  // A project in a drive's root makes the root, with its delimiter, current.
  char root[4] = "C:\\";
  root[0] = dir.Path()[0];
  EnterProjectDirectory(std::string(root) + "app.dpr", log);
  EXPECT_EQ(log.lines.back(), "current dir: " + std::string(root));
}

}  // namespace
}  // namespace quorrin
