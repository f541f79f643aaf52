// The console front end's two output forms of one analysis.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "analyzer/analysis.h"
#include "analyzer/uses_graph.h"

namespace quorrin {

struct TCliResult {
  TStringList log;
  const TUnitTree* tree = nullptr;
  const TOrderList* order = nullptr;
  bool failed = false;
  std::string error;
  // Compiler-order mode: the clause that names each tree node, the graph
  // and its cycles (in the JSON under "cycles").
  const std::vector<TUsesClause>* clauses = nullptr;
  const TUsesGraph* graph = nullptr;
  const std::vector<TUsesCycle>* cycles = nullptr;
};

// Headed blocks: the log, the tree (two blanks of indent per level; with
// clauses, nodes named in an implementation clause end in
// " (implementation)"), the order.
void WriteText(const TCliResult& result, FILE* file);
// One JSON object with the keys "log", "tree", "order", "sections" (then
// "cycles" in compiler-order mode, and "error" after a failure). With
// clauses, each tree node has a "clause" key ("interface",
// "implementation", null for the root).
std::string FormatJson(const TCliResult& result);

}  // namespace quorrin
