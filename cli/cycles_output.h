// Output of the unit cycles of the compiler-order analysis.
#pragma once

#include <string>
#include <vector>

#include "analyzer/uses_graph.h"

namespace quorrin {

// One block per cycle: its units, then its edges with their clauses.
std::string FormatCyclesText(const TUsesGraph& graph, const std::vector<TUsesCycle>& cycles);
// A JSON array of {"units", "edges": [{"from", "to", "clause"}], "dependsOnClauseOrder"}.
void AppendCyclesJson(std::string& out, const TUsesGraph& graph, const std::vector<TUsesCycle>& cycles);

}  // namespace quorrin
