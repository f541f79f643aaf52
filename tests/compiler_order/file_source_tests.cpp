// The compiler-order analysis over real files: it agrees with the window's
// analysis wherever no implementation clause is involved, and it opens
// files as the window's scanners do.
#include <gtest/gtest.h>

#include "analyzer/compiler_analysis.h"
#include "analyzer/errors.h"
#include "analyzer/file_unit_source.h"
#include "tests/helpers/win/temp_dir.h"

namespace quorrin {
namespace {

using testing::TempDir;

class LinesLog : public IAnalysisLog {
 public:
  void Log(const std::string& text) override { lines.push_back(text); }
  TStringList lines;
};

std::string Unit(const std::string& name, const std::string& intf, const std::string& impl = "") {
  std::string text = "unit " + name + ";\r\ninterface\r\n";
  if (!intf.empty()) text += "uses " + intf + ";\r\n";
  text += "implementation\r\n";
  if (!impl.empty()) text += "uses " + impl + ";\r\n";
  return text + "initialization\r\n  Init" + name + ";\r\nend.\r\n";
}

struct ModeResult {
  TStringList log, tree, order, records;
};

ModeResult Flatten(const LinesLog& log, const TUnitTree& tree, const TOrderList& order, const TLoadedUnitList& units) {
  ModeResult r;
  r.log = log.lines;
  for (int i = 0; i < tree.Count(); ++i)
    r.tree.push_back(std::to_string(tree[i].Parent) + " " + tree[i].Text + " " +
                     (tree[i].Data ? tree[i].Data->UnitFile : "-"));
  for (int i = 0; i < order.Count(); ++i) r.order.push_back(order[i].Text);
  for (int i = 0; i < units.Count(); ++i)
    r.records.push_back(units[i]->UnitFile + "|" + units[i]->FullPath + "|" + units[i]->InitText);
  return r;
}

TEST(CompilerOrderFiles, WithoutImplementationClausesBothModesAgree) {
  TempDir dir;
  const std::string project = dir.Write(
      "app\\App.dpr", "program App;\r\nuses\r\n  Forms, A in 'A.pas',\r\n  b, Lib1;\r\n{$R *.res}\r\nbegin\r\nend.\r\n");
  dir.Write("app\\A.pas", Unit("A", "B, Missing, lib1"));
  dir.Write("app\\B.pas", Unit("B", "Lib1, Lib2"));
  dir.Write("lib\\Lib1.pas", Unit("Lib1", "Lib2"));
  dir.Write("lib2\\Lib2.pas", Unit("Lib2", ""));
  const TStringList paths{dir / "nowhere", dir / "lib2", dir / "lib"};

  LinesLog log1;
  TLoadedUnitList units1;
  EnterProjectDirectory(project, log1);
  TProjectAnalyzer window(log1, units1, paths);
  window.AnalyzeProject(project);

  LinesLog log2;
  TLoadedUnitList units2;
  EnterProjectDirectory(project, log2);
  TFileUnitSource source(log2, paths);
  TCompilerOrderAnalyzer compiler(source, log2, units2);
  compiler.AnalyzeProject(project);

  const ModeResult a = Flatten(log1, window.Tree(), window.Order(), units1);
  const ModeResult b = Flatten(log2, compiler.Tree(), compiler.Order(), units2);
  EXPECT_EQ(a.log, b.log);
  EXPECT_EQ(a.tree, b.tree);
  EXPECT_EQ(a.order, b.order);
  EXPECT_EQ(a.records, b.records);
  EXPECT_EQ(b.order, (TStringList{"Forms.pas", "Lib2.pas", "Lib1.pas", "B.pas", "Missing.pas", "A.pas", "App.dpr"}));
  EXPECT_TRUE(compiler.Cycles().empty());
}

TEST(CompilerOrderFiles, AUnitHeldOpenForWritingFailsAsInTheWindowsMode) {
  TempDir dir;
  const std::string project = dir.Write("App.dpr", "program App;\r\nuses A;\r\nbegin\r\nend.\r\n");
  const std::string unit = dir.Write("A.pas", Unit("A", ""));
  // Another program writes the unit and lets others read and write.
  HANDLE writer = CreateFileA(unit.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  LinesLog log;
  TFileUnitSource source(log, {});
  // The project file is opened as the clause scan opens it: that works.
  EXPECT_NE(source.ReadWholeFile(project, false).find("uses A;"), std::string::npos);
  EXPECT_NE(source.ReadWholeFile(unit, false).find("unit A;"), std::string::npos);
  std::string message;
  try {
    source.ReadWholeFile(unit, true);
  } catch (const EFOpenError& e) {
    message = e.Message();
  }
  EXPECT_EQ(message.rfind("Cannot open file \"" + unit + "\". ", 0), 0u) << message;

  TLoadedUnitList windowUnits, compilerUnits;
  EnterProjectDirectory(project, log);
  TProjectAnalyzer window(log, windowUnits, {});
  EXPECT_THROW(window.AnalyzeProject(project), EFOpenError);
  TCompilerOrderAnalyzer compiler(source, log, compilerUnits);
  EXPECT_THROW(compiler.AnalyzeProject(project), EFOpenError);
  EXPECT_EQ(windowUnits.Count(), compilerUnits.Count());
  EXPECT_EQ(compiler.Tree().Count(), window.Tree().Count());
  EXPECT_EQ(compiler.Order().Count(), 0);
  CloseHandle(writer);
}

}  // namespace
}  // namespace quorrin
