// The compiler's initialization order over uses graphs: the cases measured
// with Free Pascal, deep chains, and random graphs against a plain
// recursive model of the same rule.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "analyzer/compiler_order.h"
#include "tests/compiler_order/graph_builder.h"

namespace quorrin {
namespace {

using testing::GraphBuilder;

std::string OrderOf(const std::string& text, size_t* compiles = nullptr) {
  GraphBuilder b(text);
  const TCompilerOrder order = CompilerInitOrder(b.graph, 0);
  if (compiles) *compiles = order.Compiles;
  return b.Names(order.Order);
}

// Each case was compiled with fpc 3.2.2 and run; the expected order is what
// the program printed (P is the program).
TEST(CompilerOrder, MatchesTheOrdersMeasuredWithFreePascal) {
  size_t compiles = 0;
  // A cycle entered through A's interface clause and closed through C's
  // implementation clause: A is compiled again on the spot and reaches D
  // before C is placed.
  EXPECT_EQ(OrderOf("P: A; A: C D |; C: | A; D:", &compiles), "D C A P");
  EXPECT_EQ(compiles, 1u);
  // The second compilation is itself interrupted: A is compiled a third time.
  EXPECT_EQ(OrderOf("P: A; A: C D |; C: | A; D: | A", &compiles), "D C A P");
  EXPECT_EQ(compiles, 2u);
  // Closed through an interface clause further up: still a second compile.
  EXPECT_EQ(OrderOf("P: A; A: C |; C: | X; X: A |", &compiles), "X C A P");
  EXPECT_EQ(compiles, 1u);
  // After its second compilation A walks implementation uses: reached
  // again, it is skipped.
  EXPECT_EQ(OrderOf("P: A; A: C |; C: | A Z; Z: | A", &compiles), "Z C A P");
  EXPECT_EQ(compiles, 1u);
  EXPECT_EQ(OrderOf("P: A; A: C | E; C: | A; E: | A", &compiles), "E C A P");
  EXPECT_EQ(compiles, 1u);
  EXPECT_EQ(OrderOf("P: A; A: C |; C: | A Z; Z: W | A; W:", &compiles), "W Z C A P");
  EXPECT_EQ(OrderOf("P: A; A: X |; X: | Y; Y: A |", &compiles), "Y X A P");
  EXPECT_EQ(compiles, 1u);
}

TEST(CompilerOrder, PlainUsesGiveThePostOrderOfTheClauses) {
  EXPECT_EQ(OrderOf("P: A B; A: B |; B:"), "B A P");
  // Diamond: the shared unit once, where it is first finished.
  EXPECT_EQ(OrderOf("P: A B; A: C |; B: C |; C:"), "C A B P");
  // Implementation uses come after all interface uses of the same unit.
  EXPECT_EQ(OrderOf("P: A; A: B | C; B: | D; C:; D:"), "D B C A P");
  // A unit reached again while it walks its implementation uses is skipped.
  EXPECT_EQ(OrderOf("P: A; A: | B; B: A |"), "B A P");
  EXPECT_EQ(OrderOf("P:"), "P");
}

TEST(CompilerOrder, InterfaceCycleIsReportedAndSkipped) {
  GraphBuilder b("P: A; A: X |; X: Y |; Y: A |");
  const TCompilerOrder order = CompilerInitOrder(b.graph, 0);
  EXPECT_EQ(b.Names(order.Order), "Y X A P");
  ASSERT_EQ(order.Circular.size(), 1u);
  EXPECT_EQ(order.Circular[0].From, b["Y"]);
  EXPECT_EQ(order.Circular[0].To, b["A"]);
  EXPECT_EQ(order.Compiles, 0u);
  // The compiler reads a whole interface clause before it loads a unit of it:
  // V's clause names M, which is still walking its interface, so that is
  // refused before Q, first in V's clause, is loaded and meets R's cycle.
  GraphBuilder early("P: M; M: V |; V: Q M |; Q: R |; R: Q |");
  const TCompilerOrder refused = CompilerInitOrder(early.graph, 0);
  ASSERT_EQ(refused.Circular.size(), 2u);
  EXPECT_EQ(early.Names(std::vector<int>{refused.Circular[0].From, refused.Circular[0].To}), "V M");
  EXPECT_EQ(early.Names(std::vector<int>{refused.Circular[1].From, refused.Circular[1].To}), "R Q");
  // A unit naming itself in its interface.
  GraphBuilder self("P: A; A: A |");
  EXPECT_EQ(CompilerInitOrder(self.graph, 0).Circular.size(), 1u);
}

TEST(CompilerOrder, ChainsTenThousandDeepNeedNoRecursion) {
  constexpr int kDepth = 10000;
  for (const TUsesClause clause : {TUsesClause::Interface, TUsesClause::Implementation}) {
    TUsesGraph g;
    for (int i = 0; i <= kDepth; ++i) g.AddNode("U" + std::to_string(i), nullptr, true);
    for (int i = 0; i < kDepth; ++i) g.AddEdge(i, i + 1, clause);
    // The last unit closes a ring through its implementation clause.
    g.AddEdge(kDepth, 1, TUsesClause::Implementation);
    const TCompilerOrder order = CompilerInitOrder(g, 0);
    ASSERT_EQ(order.Order.size(), static_cast<size_t>(kDepth + 1));
    for (int i = 0; i <= kDepth; ++i) EXPECT_EQ(order.Order[static_cast<size_t>(i)], kDepth - i);
    // Through interface clauses the ring makes U1 compile again once, and
    // that compilation walks the whole chain again.
    EXPECT_EQ(order.Compiles, clause == TUsesClause::Interface ? static_cast<size_t>(kDepth - 1) : 0u);
  }
}

// An interface chain whose units name earlier ones in their implementation
// clauses: compilations on the spot nest ever deeper. The walk stops
// compiling again at its budget, says so, and still places every unit once.
TEST(CompilerOrder, CompilationsOnTheSpotStopAtTheBudget) {
  constexpr int kUnits = 2000;
  TUsesGraph g;
  for (int i = 0; i < kUnits; ++i) g.AddNode("U" + std::to_string(i), nullptr, true);
  for (int i = 0; i + 1 < kUnits; ++i) g.AddEdge(i, i + 1, TUsesClause::Interface);
  for (int i = 2; i < kUnits; ++i) g.AddEdge(i, i / 2, TUsesClause::Implementation);
  const TCompilerOrder order = CompilerInitOrder(g, 0);
  EXPECT_TRUE(order.BudgetExceeded);
  EXPECT_EQ(order.Compiles, CompileBudget(g));
  ASSERT_EQ(order.Order.size(), static_cast<size_t>(kUnits));
  std::vector<int> sorted = order.Order;
  std::sort(sorted.begin(), sorted.end());
  for (int i = 0; i < kUnits; ++i) ASSERT_EQ(sorted[static_cast<size_t>(i)], i);
  EXPECT_EQ(order.Order.back(), 0);
  // Small programs stay far below it.
  GraphBuilder b("P: A; A: C D |; C: | A; D: | A");
  EXPECT_FALSE(CompilerInitOrder(b.graph, 0).BudgetExceeded);
}

// The rule written plainly: recursion, a per-unit state, and the list of
// compilations in progress searched from the top for the circular check.
class ReferenceOrder {
 public:
  explicit ReferenceOrder(const TUsesGraph& g) : g_(g), state_(static_cast<size_t>(g.Count()), 0) {}

  void Compile(int u, bool first) {
    state_[static_cast<size_t>(u)] = 1;
    active_.push_back({u, false});
    const TUsesGraphNode& node = g_[u];
    // The interface clause is read whole first; circular names stop there.
    for (size_t i = 0; i < node.InterfaceCount; ++i)
      if (const int v = node.Uses[i].Target; state_[static_cast<size_t>(v)] == 1 && OnlyInterfaceAbove(v))
        Report(u, v);
    for (size_t i = 0; i <= node.Uses.size(); ++i) {
      if (i == node.InterfaceCount) {
        state_[static_cast<size_t>(u)] = 2;
        active_.back().second = true;
      }
      if (i < node.Uses.size()) Reach(u, node.Uses[i].Target);
    }
    if (first) {
      state_[static_cast<size_t>(u)] = 3;
      order.push_back(u);
    }
    active_.pop_back();
  }

  std::vector<int> order;
  size_t compiles = 0;
  std::vector<std::pair<int, int>> circular;  // in the order found, each pair once

 private:
  void Report(int from, int to) {
    if (std::find(circular.begin(), circular.end(), std::make_pair(from, to)) == circular.end())
      circular.push_back({from, to});
  }

  void Reach(int from, int v) {
    if (state_[static_cast<size_t>(v)] == 0) return Compile(v, true);
    if (state_[static_cast<size_t>(v)] != 1) return;
    if (OnlyInterfaceAbove(v)) {
      Report(from, v);
    } else {
      ++compiles;
      Compile(v, false);
    }
  }

  // Every compilation from v's latest one up to the top walks interface uses.
  bool OnlyInterfaceAbove(int v) const {
    size_t k = active_.size();
    while (active_[--k].first != v) {
    }
    for (size_t j = k; j < active_.size(); ++j)
      if (active_[j].second) return false;
    return true;
  }

  const TUsesGraph& g_;
  std::vector<int> state_;
  std::vector<std::pair<int, bool>> active_;
};

TEST(CompilerOrder, AgreesWithThePlainModelOnRandomGraphs) {
  std::mt19937 rng(20261207);
  size_t withCompiles = 0, withCircular = 0;
  for (int round = 0; round < 4000; ++round) {
    const int n = 2 + static_cast<int>(rng() % 11);
    TUsesGraph g;
    for (int i = 0; i < n; ++i) g.AddNode("U" + std::to_string(i), nullptr, true);
    for (int i = 0; i < n; ++i) {
      const int intf = static_cast<int>(rng() % 4), impl = static_cast<int>(rng() % 4);
      for (int k = 0; k < intf; ++k)
        if (const int t = static_cast<int>(rng() % n); t != 0) g.AddEdge(i, t, TUsesClause::Interface);
      for (int k = 0; k < impl; ++k)
        if (const int t = static_cast<int>(rng() % n); t != 0) g.AddEdge(i, t, TUsesClause::Implementation);
    }
    ReferenceOrder ref(g);
    ref.Compile(0, true);
    const TCompilerOrder order = CompilerInitOrder(g, 0);
    ASSERT_EQ(order.Order, ref.order) << "round " << round;
    ASSERT_EQ(order.Compiles, ref.compiles) << "round " << round;
    std::vector<std::pair<int, int>> circular;
    for (const TCircularReference& c : order.Circular) circular.push_back({c.From, c.To});
    ASSERT_EQ(circular, ref.circular) << "round " << round;
    withCompiles += order.Compiles > 0;
    withCircular += !order.Circular.empty();
  }
  // The random graphs do exercise both special cases.
  EXPECT_GT(withCompiles, 500u);
  EXPECT_GT(withCircular, 500u);
}

}  // namespace
}  // namespace quorrin
