#include "cli/cycles_output.h"

#include "cli/json_writer.h"

namespace quorrin {

std::string FormatCyclesText(const TUsesGraph& graph, const std::vector<TUsesCycle>& cycles) {
  constexpr const char* kEol = "\r\n";
  std::string out = "== Cycles ==";
  out += kEol;
  if (cycles.empty()) out += std::string("no cycles") + kEol;
  for (size_t c = 0; c < cycles.size(); ++c) {
    const TUsesCycle& cycle = cycles[c];
    out += "cycle " + std::to_string(c + 1) + ": " + std::to_string(cycle.Units.size()) +
           (cycle.Units.size() == 1 ? " unit, " : " units, ");
    out += cycle.DependsOnClauseOrder ? "order follows clause order" : "interface cycle (the compiler refuses it)";
    out += kEol;
    for (const int u : cycle.Units) out += "  " + graph[u].Text + kEol;
    for (const TCycleEdge& e : cycle.Edges)
      out += "  " + graph[e.From].Text + " -> " + graph[e.To].Text + " (" + ClauseName(e.Clause) + ")" + kEol;
  }
  return out;
}

void AppendCyclesJson(std::string& out, const TUsesGraph& graph, const std::vector<TUsesCycle>& cycles) {
  out += '[';
  for (size_t c = 0; c < cycles.size(); ++c) {
    const TUsesCycle& cycle = cycles[c];
    if (c) out += ',';
    out += "{\"units\":[";
    for (size_t i = 0; i < cycle.Units.size(); ++i) {
      if (i) out += ',';
      AppendJsonString(out, graph[cycle.Units[i]].Text);
    }
    out += "],\"edges\":[";
    for (size_t i = 0; i < cycle.Edges.size(); ++i) {
      const TCycleEdge& e = cycle.Edges[i];
      if (i) out += ',';
      out += "{\"from\":";
      AppendJsonString(out, graph[e.From].Text);
      out += ",\"to\":";
      AppendJsonString(out, graph[e.To].Text);
      out += ",\"clause\":\"";
      out += ClauseName(e.Clause);
      out += "\"}";
    }
    out += "],\"dependsOnClauseOrder\":";
    out += cycle.DependsOnClauseOrder ? "true" : "false";
    out += '}';
  }
  out += ']';
}

}  // namespace quorrin
