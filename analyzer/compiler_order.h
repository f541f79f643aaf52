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

// A unit reached through interface clauses alone while it was still walking
// its own interface uses: the compiler stops with "Circular unit reference
// between From and To". The walk skips that edge and goes on; each pair is
// listed once.
struct TCircularReference {
  int From;
  int To;
};

struct TCompilerOrder {
  std::vector<int> Order;  // graph nodes in initialization order; the start node last
  std::vector<TCircularReference> Circular;
  size_t Compiles = 0;  // compilations of units on the spot
};

// Walks from start with an explicit stack (no recursion, any depth).
TCompilerOrder CompilerInitOrder(const TUsesGraph& graph, int start);

}  // namespace quorrin
