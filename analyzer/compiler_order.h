// The initialization order the compiler produces, derived from the uses
// graph. Loading a unit walks its interface uses, then its implementation
// uses, each in clause order, loading each used unit in turn; a unit takes
// its place when its first load returns. A unit reached again while it
// walks its implementation uses is skipped. A unit reached again while it
// walks its interface uses (a cycle closed through an implementation
// clause) is compiled again on the spot: its interface and then its
// implementation uses are walked from the start, with the unit walking its
// implementation uses once that walk has passed its interface. This is the
// order of Free Pascal 3.2 (its log says "Already compiling A, setting second
// compile" there); Delphi's compiler was not measured.
#pragma once

#include <vector>

#include "analyzer/uses_graph.h"

namespace quorrin {

// A unit named in an interface clause while it was still walking its own
// interface uses, with interface clauses alone between: the compiler stops
// with "Circular unit reference between From and To". It reads a whole
// interface clause before it loads any unit of it, so such a name is found
// as soon as the clause is read. The walk skips that use and goes on; each
// pair is listed once, the first being the one the compiler reports.
struct TCircularReference {
  int From;
  int To;
};

struct TCompilerOrder {
  std::vector<int> Order;  // graph nodes in initialization order; the start node last
  std::vector<TCircularReference> Circular;
  size_t Compiles = 0;  // compilations of units on the spot
  // Long interface chains closed by many implementation uses make the
  // compilations on the spot nest ever deeper (their number grows with the
  // square of the chain). The walk allows CompileBudget(graph) of them;
  // beyond that it skips a unit it would compile again, so the rest of the
  // order may differ from the compiler's.
  bool BudgetExceeded = false;
};

size_t CompileBudget(const TUsesGraph& graph);

// Walks from start with an explicit stack (no recursion, any depth).
TCompilerOrder CompilerInitOrder(const TUsesGraph& graph, int start);

}  // namespace quorrin
