// The compiler-order analysis over files held in memory: tree, records,
// graph, order and cycles, and that every file is read once.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "analyzer/compiler_analysis.h"
#include "analyzer/errors.h"

namespace quorrin {
namespace {

// Files of one folder, looked up ignoring case as Windows does.
class MemorySource : public IUnitSource, public IAnalysisLog {
 public:
  void Add(const std::string& name, const std::string& text) { files_[LowerAscii(name)] = text; }

  std::string FindUnitFile(const std::string& fileName) override {
    ++lookups[LowerAscii(fileName)];
    const std::string path = files_.count(LowerAscii(fileName)) ? "C:\\p\\" + fileName : std::string();
    Log("found actual unit for \"" + fileName + "\": " + path);
    return path;
  }
  std::string ReadWholeFile(const std::string& path, bool) override {
    const std::string key = LowerAscii(ExtractFileName(path));
    ++reads[key];
    if (failing.count(key)) throw EFOpenError("Cannot open file \"" + path + "\". Access denied");
    return files_.at(key);
  }
  void Log(const std::string& text) override { log.push_back(text); }

  std::map<std::string, int> lookups, reads;
  std::set<std::string> failing;
  TStringList log;

 private:
  std::map<std::string, std::string> files_;
};

std::string Unit(const std::string& name, const std::string& intf, const std::string& impl,
                 const std::string& init = "") {
  std::string text = "unit " + name + ";\r\ninterface\r\n";
  if (!intf.empty()) text += "uses " + intf + ";\r\n";
  text += "implementation\r\n";
  if (!impl.empty()) text += "uses " + impl + ";\r\n";
  if (!init.empty()) text += "initialization\r\n  " + init + "\r\n";
  return text + "end.\r\n";
}

std::string OrderText(const TOrderList& order) {
  std::string out;
  for (int i = 0; i < order.Count(); ++i) out += (i ? " " : "") + order[i].Text;
  return out;
}

// The tree as "text/clause" in depth-first order, children in brackets.
std::string TreeText(const TCompilerOrderAnalyzer& a) {
  std::string out;
  std::vector<std::pair<int, size_t>> stack{{0, 0}};
  out += a.Tree()[0].Text;
  while (!stack.empty()) {
    auto& [node, next] = stack.back();
    const auto& children = a.Tree()[node].Children;
    if (next == 0 && !children.empty()) out += "[";
    if (next < children.size()) {
      const int child = children[next++];
      if (next > 1) out += " ";
      out += a.Tree()[child].Text;
      if (a.Clauses()[static_cast<size_t>(child)] == TUsesClause::Implementation) out += "/impl";
      stack.emplace_back(child, 0);
      continue;
    }
    if (!children.empty()) out += "]";
    stack.pop_back();
  }
  return out;
}

TEST(CompilerOrderAnalysis, FollowsImplementationUsesAndReadsEachFileOnce) {
  MemorySource src;
  src.Add("App.dpr", "program App;\r\nuses A, Extra;\r\nbegin\r\nend.\r\n");
  src.Add("A.pas", Unit("A", "C, D", "", "InitA;"));
  src.Add("C.pas", Unit("C", "", "a, Hidden"));
  src.Add("D.pas", Unit("D", "", ""));
  src.Add("Hidden.pas", Unit("Hidden", "d", ""));
  src.Add("Extra.pas", Unit("Extra", "", "C"));
  TLoadedUnitList records;
  TCompilerOrderAnalyzer a(src, src, records);
  a.AnalyzeProject("C:\\p\\App.dpr");

  // D keeps the spelling of its first place in the tree (Hidden names it "d").
  EXPECT_EQ(OrderText(a.Order()), "d.pas Hidden.pas C.pas A.pas Extra.pas App.dpr");
  EXPECT_EQ(TreeText(a), "App.dpr[A.pas[C.pas[a.pas/impl Hidden.pas/impl[d.pas]] D.pas] Extra.pas[C.pas/impl]]");
  // One record, one lookup and one read per unit, whatever the letter case.
  EXPECT_EQ(records.Count(), 5);
  for (const auto& [name, count] : src.reads) EXPECT_EQ(count, 1) << name;
  for (const auto& [name, count] : src.lookups) EXPECT_EQ(count, 1) << name;
  EXPECT_EQ(src.reads.size(), 6u);
  // The section text comes from the same single read.
  EXPECT_EQ(a.Order()[3].Data->InitText, "initialization\r\n  InitA;\r\nend.\r\n");
  EXPECT_EQ(a.Order()[5].Data, nullptr);
  // Lookups in the order units are first named in the tree.
  ASSERT_EQ(src.log.size(), 5u);
  EXPECT_EQ(src.log[2], "found actual unit for \"Hidden.pas\": C:\\p\\Hidden.pas");
  ASSERT_EQ(a.Cycles().size(), 1u);
  EXPECT_EQ(a.Cycles()[0].Units.size(), 2u);  // A and C
  EXPECT_TRUE(a.Cycles()[0].DependsOnClauseOrder);
  EXPECT_EQ(a.Walk().Compiles, 1u);
}

TEST(CompilerOrderAnalysis, InterfaceCycleIsLoggedAsTheCompilerWouldStop) {
  MemorySource src;
  src.Add("App.dpr", "program App;\r\nuses A;\r\nbegin\r\nend.\r\n");
  src.Add("A.pas", Unit("A", "B", ""));
  src.Add("B.pas", Unit("B", "A", ""));
  TLoadedUnitList records;
  TCompilerOrderAnalyzer a(src, src, records);
  a.AnalyzeProject("C:\\p\\App.dpr");
  EXPECT_EQ(OrderText(a.Order()), "B.pas A.pas App.dpr");
  EXPECT_EQ(src.log.back(), "circular unit reference between \"B.pas\" and \"A.pas\"");
  ASSERT_EQ(a.Cycles().size(), 1u);
  EXPECT_FALSE(a.Cycles()[0].DependsOnClauseOrder);
}

TEST(CompilerOrderAnalysis, WalkBeyondTheBudgetIsLogged) {
  // An interface chain whose units name earlier ones in their implementation.
  constexpr int kUnits = 800;
  MemorySource src;
  src.Add("App.dpr", "program App;\r\nuses U0;\r\nbegin\r\nend.\r\n");
  for (int i = 0; i < kUnits; ++i)
    src.Add("U" + std::to_string(i) + ".pas",
            Unit("U" + std::to_string(i), i + 1 < kUnits ? "U" + std::to_string(i + 1) : "",
                 i > 1 ? "U" + std::to_string(i / 2) : ""));
  TLoadedUnitList records;
  TCompilerOrderAnalyzer a(src, src, records);
  a.AnalyzeProject("C:\\p\\App.dpr");
  EXPECT_EQ(a.Order().Count(), kUnits + 1);
  ASSERT_TRUE(a.Walk().BudgetExceeded);
  EXPECT_EQ(src.log.back().rfind("compiler order: more than " + std::to_string(CompileBudget(a.Graph())) +
                                     " compilations on the spot;",
                                 0),
            0u);
}

TEST(CompilerOrderAnalysis, OpenErrorStopsWithTheTreeSoFarAndNoOrder) {
  MemorySource src;
  src.Add("App.dpr", "program App;\r\nuses A, B;\r\nbegin\r\nend.\r\n");
  src.Add("A.pas", Unit("A", "", ""));
  src.Add("B.pas", Unit("B", "", ""));
  src.failing.insert("b.pas");
  TLoadedUnitList records;
  TCompilerOrderAnalyzer a(src, src, records);
  EXPECT_THROW(a.AnalyzeProject("C:\\p\\App.dpr"), EFOpenError);
  EXPECT_EQ(a.Tree().Count(), 3);
  EXPECT_EQ(a.Tree()[2].Data, nullptr);  // the unit being opened gets no record
  EXPECT_EQ(records.Count(), 1);
  EXPECT_EQ(a.Order().Count(), 0);
  EXPECT_TRUE(a.Cycles().empty());
}

TEST(CompilerOrderAnalysis, PasFileAsProjectKeepsItsFullPathRecord) {
  MemorySource src;
  src.Add("Main.pas", Unit("Main", "A", "B", "Go;"));
  src.Add("A.pas", Unit("A", "", ""));
  src.Add("B.pas", Unit("B", "", ""));
  TLoadedUnitList records;
  TCompilerOrderAnalyzer a(src, src, records);
  a.AnalyzeProject("C:\\p\\Main.pas");
  EXPECT_EQ(OrderText(a.Order()), "A.pas B.pas Main.pas");
  ASSERT_NE(a.Tree()[0].Data, nullptr);
  EXPECT_EQ(a.Tree()[0].Data->UnitFile, "C:\\p\\Main.pas");
  EXPECT_EQ(a.Tree()[0].Data->InitText, "initialization\r\n  Go;\r\nend.\r\n");
  EXPECT_EQ(src.lookups.count("main.pas"), 0u);  // a name with a directory is not looked up
}

TEST(CompilerOrderAnalysis, NamesEqualToTheListControlShareOneOrderEntry) {
  // Éclair and éclair: two files here (the source tells them apart), two
  // records and graph nodes, one entry in the order list.
  MemorySource src;
  src.Add("App.dpr", "program App;\r\nuses A, B;\r\nbegin\r\nend.\r\n");
  src.Add("A.pas", Unit("A", "\xC9" "clair", ""));
  src.Add("B.pas", Unit("B", "", "\xE9" "clair"));
  src.Add("\xC9" "clair.pas", Unit("\xC9" "clair", "", "", "Bake;"));
  src.Add("\xE9" "clair.pas", Unit("\xE9" "clair", "", "", "Fill;"));
  TLoadedUnitList records;
  TCompilerOrderAnalyzer a(src, src, records);
  a.AnalyzeProject("C:\\p\\App.dpr");
  EXPECT_EQ(records.Count(), 4);
  EXPECT_EQ(a.Walk().Order.size(), 5u);
  EXPECT_EQ(OrderText(a.Order()), "\xC9" "clair.pas A.pas B.pas App.dpr");
  EXPECT_EQ(a.Order()[0].Data->InitText, "initialization\r\n  Bake;\r\nend.\r\n");
}

TEST(CompilerOrderAnalysis, ChainTenThousandUnitsDeepThroughImplementationUses) {
  constexpr int kDepth = 10000;
  MemorySource src;
  src.Add("App.dpr", "program App;\r\nuses U0;\r\nbegin\r\nend.\r\n");
  for (int i = 0; i < kDepth; ++i) {
    const std::string next = i + 1 < kDepth ? "U" + std::to_string(i + 1) : "U0";
    src.Add("U" + std::to_string(i) + ".pas", Unit("U" + std::to_string(i), "", next));
  }
  TLoadedUnitList records;
  TCompilerOrderAnalyzer a(src, src, records);
  a.AnalyzeProject("C:\\p\\App.dpr");
  ASSERT_EQ(a.Order().Count(), kDepth + 1);
  EXPECT_EQ(a.Order()[0].Text, "U9999.pas");
  EXPECT_EQ(a.Order()[kDepth - 1].Text, "U0.pas");
  ASSERT_EQ(a.Cycles().size(), 1u);
  EXPECT_EQ(a.Cycles()[0].Units.size(), static_cast<size_t>(kDepth));
  EXPECT_EQ(src.reads.size(), static_cast<size_t>(kDepth + 1));
}

}  // namespace
}  // namespace quorrin
