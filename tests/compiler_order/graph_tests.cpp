// Unit cycles (strongly connected components) and the DOT export.
#include <gtest/gtest.h>

#include <random>

#include "analyzer/uses_graph.h"
#include "tests/compiler_order/graph_builder.h"

namespace quorrin {
namespace {

using testing::GraphBuilder;

TEST(UnitCycles, ListsEachComponentWithItsEdgesAndClauses) {
  GraphBuilder b("P: A D; A: B |; B: | C; C: A |; D: E |; E: D |; F: F |");
  const std::vector<TUsesCycle> cycles = FindCycles(b.graph);
  ASSERT_EQ(cycles.size(), 3u);
  EXPECT_EQ(b.Names(cycles[0].Units), "A B C");
  ASSERT_EQ(cycles[0].Edges.size(), 3u);
  EXPECT_EQ(cycles[0].Edges[1].From, b["B"]);
  EXPECT_EQ(cycles[0].Edges[1].To, b["C"]);
  EXPECT_EQ(cycles[0].Edges[1].Clause, TUsesClause::Implementation);
  EXPECT_TRUE(cycles[0].DependsOnClauseOrder);
  // Interface clauses alone: a cycle the compiler refuses.
  EXPECT_EQ(b.Names(cycles[1].Units), "D E");
  EXPECT_FALSE(cycles[1].DependsOnClauseOrder);
  // A unit that names itself.
  EXPECT_EQ(b.Names(cycles[2].Units), "F");
  EXPECT_EQ(cycles[2].Edges.size(), 1u);
  EXPECT_TRUE(FindCycles(GraphBuilder("P: A B; A: B | ; B:").graph).empty());
}

TEST(UnitCycles, OnlyEdgesInsideTheComponentAreListed) {
  GraphBuilder b("P: A; A: B X | Y; B: | A; X:; Y: A |");
  const std::vector<TUsesCycle> cycles = FindCycles(b.graph);
  ASSERT_EQ(cycles.size(), 1u);
  EXPECT_EQ(b.Names(cycles[0].Units), "A B Y");
  ASSERT_EQ(cycles[0].Edges.size(), 4u);  // A->B, A->Y, B->A, Y->A; never A->X
  for (const TCycleEdge& e : cycles[0].Edges) EXPECT_NE(e.To, b["X"]);
}

TEST(UnitCycles, ComponentsAgreeWithMutualReachability) {
  std::mt19937 rng(5);
  for (int round = 0; round < 300; ++round) {
    const int n = 1 + static_cast<int>(rng() % 14);
    TUsesGraph g;
    for (int i = 0; i < n; ++i) g.AddNode("U" + std::to_string(i), nullptr, true);
    std::vector<std::vector<char>> reach(static_cast<size_t>(n), std::vector<char>(static_cast<size_t>(n), 0));
    const int edges = static_cast<int>(rng() % static_cast<unsigned>(2 * n + 1));
    for (int k = 0; k < edges; ++k) {
      const int a = static_cast<int>(rng() % n), c = static_cast<int>(rng() % n);
      g.AddEdge(a, c, rng() % 2 ? TUsesClause::Interface : TUsesClause::Implementation);
      reach[static_cast<size_t>(a)][static_cast<size_t>(c)] = 1;
    }
    for (int k = 0; k < n; ++k)  // transitive closure
      for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j)
          if (reach[i][k] && reach[k][j]) reach[i][j] = 1;
    std::vector<int> cycleOf(static_cast<size_t>(n), -1);
    const std::vector<TUsesCycle> cycles = FindCycles(g);
    for (size_t c = 0; c < cycles.size(); ++c)
      for (const int u : cycles[c].Units) cycleOf[static_cast<size_t>(u)] = static_cast<int>(c);
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < n; ++j) {
        const bool together = reach[i][j] && reach[j][i];
        const bool listed = cycleOf[i] >= 0 && cycleOf[i] == cycleOf[j];
        ASSERT_EQ(together, listed) << "round " << round << ": " << i << ", " << j;
      }
  }
}

TEST(DotExport, DrawsClausesMissingUnitsAndCycleClusters) {
  TUsesGraph g;
  g.AddNode("App.dpr", nullptr, true);
  g.AddNode("A.pas", nullptr, true);
  g.AddNode("B.pas", nullptr, true);
  g.AddNode("Gone.pas", nullptr, false);
  g.AddNode("Q\"t\\\xE9.pas", nullptr, true);
  g.AddEdge(0, 1, TUsesClause::Interface);
  g.AddEdge(0, 4, TUsesClause::Interface);
  g.AddEdge(1, 2, TUsesClause::Interface);
  g.AddEdge(1, 3, TUsesClause::Implementation);
  g.AddEdge(2, 1, TUsesClause::Implementation);
  const std::string dot = FormatDot(g, FindCycles(g));
  EXPECT_EQ(dot.rfind("digraph uses {\r\n", 0), 0u);
  EXPECT_EQ(dot.substr(dot.size() - 3), "}\r\n");
  EXPECT_NE(dot.find("  n0 -> n1;\r\n"), std::string::npos);
  EXPECT_NE(dot.find("  n1 -> n3 [style=dashed];\r\n"), std::string::npos);
  EXPECT_NE(dot.find("  n3 [label=\"Gone.pas\", style=dotted, color=gray50, fontcolor=gray50];\r\n"),
            std::string::npos);
  // Quotes and backslashes escaped, Latin-1 written as UTF-8.
  EXPECT_NE(dot.find("[label=\"Q\\\"t\\\\\xC3\xA9.pas\"]"), std::string::npos);
  // The cycle's units inside one cluster, the others outside.
  const size_t open = dot.find("  subgraph cluster_cycle1 {\r\n");
  ASSERT_NE(open, std::string::npos);
  const size_t close = dot.find("  }\r\n", open);
  const std::string cluster = dot.substr(open, close - open);
  EXPECT_NE(cluster.find("(order follows clause order)"), std::string::npos);
  EXPECT_NE(cluster.find("    n1 [label=\"A.pas\"];"), std::string::npos);
  EXPECT_NE(cluster.find("    n2 [label=\"B.pas\"];"), std::string::npos);
  EXPECT_EQ(cluster.find("n3 ["), std::string::npos);
  EXPECT_EQ(dot.find("cluster_cycle2"), std::string::npos);
}

}  // namespace
}  // namespace quorrin
