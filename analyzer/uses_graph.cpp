#include "analyzer/uses_graph.h"

#include <algorithm>

namespace quorrin {

const char* ClauseName(TUsesClause clause) {
  return clause == TUsesClause::Interface ? "interface" : "implementation";
}

int TUsesGraph::AddNode(std::string text, TLoadedUnit* data, bool found) {
  TUsesGraphNode node;
  node.Text = std::move(text);
  node.Data = data;
  node.Found = found;
  nodes_.push_back(std::move(node));
  return Count() - 1;
}

void TUsesGraph::AddEdge(int from, int to, TUsesClause clause) {
  TUsesGraphNode& node = nodes_[static_cast<size_t>(from)];
  node.Uses.push_back({to, clause});
  if (clause == TUsesClause::Interface) node.InterfaceCount = node.Uses.size();
  ++edges_;
}

void TUsesGraph::Clear() {
  nodes_.clear();
  edges_ = 0;
}

std::vector<TUsesCycle> FindCycles(const TUsesGraph& graph) {
  const int n = graph.Count();
  constexpr int kUnseen = -1;
  std::vector<int> index(static_cast<size_t>(n), kUnseen), low(static_cast<size_t>(n), 0);
  std::vector<char> onStack(static_cast<size_t>(n), 0);
  std::vector<int> component(static_cast<size_t>(n), -1);
  std::vector<int> sccStack;
  std::vector<std::vector<int>> components;
  struct Frame {
    int node;
    size_t next;
  };
  std::vector<Frame> frames;
  int counter = 0;
  for (int start = 0; start < n; ++start) {
    if (index[static_cast<size_t>(start)] != kUnseen) continue;
    auto enter = [&](int v) {
      index[static_cast<size_t>(v)] = low[static_cast<size_t>(v)] = counter++;
      sccStack.push_back(v);
      onStack[static_cast<size_t>(v)] = 1;
      frames.push_back({v, 0});
    };
    enter(start);
    while (!frames.empty()) {
      Frame& f = frames.back();
      const auto& uses = graph[f.node].Uses;
      if (f.next < uses.size()) {
        const int w = uses[f.next++].Target;
        if (index[static_cast<size_t>(w)] == kUnseen) {
          enter(w);
        } else if (onStack[static_cast<size_t>(w)]) {
          low[static_cast<size_t>(f.node)] = std::min(low[static_cast<size_t>(f.node)], index[static_cast<size_t>(w)]);
        }
        continue;
      }
      const int v = f.node;
      frames.pop_back();
      if (!frames.empty()) {
        const int parent = frames.back().node;
        low[static_cast<size_t>(parent)] = std::min(low[static_cast<size_t>(parent)], low[static_cast<size_t>(v)]);
      }
      if (low[static_cast<size_t>(v)] != index[static_cast<size_t>(v)]) continue;
      std::vector<int> members;
      int w;
      do {
        w = sccStack.back();
        sccStack.pop_back();
        onStack[static_cast<size_t>(w)] = 0;
        component[static_cast<size_t>(w)] = static_cast<int>(components.size());
        members.push_back(w);
      } while (w != v);
      components.push_back(std::move(members));
    }
  }

  std::vector<TUsesCycle> cycles;
  for (auto& members : components) {
    const int id = component[static_cast<size_t>(members.front())];
    TUsesCycle cycle;
    std::sort(members.begin(), members.end());
    for (const int u : members)
      for (const TUsesEdge& e : graph[u].Uses)
        if (component[static_cast<size_t>(e.Target)] == id) {
          cycle.Edges.push_back({u, e.Target, e.Clause});
          if (e.Clause == TUsesClause::Implementation) cycle.DependsOnClauseOrder = true;
        }
    if (members.size() == 1 && cycle.Edges.empty()) continue;
    cycle.Units = std::move(members);
    cycles.push_back(std::move(cycle));
  }
  std::sort(cycles.begin(), cycles.end(),
            [](const TUsesCycle& a, const TUsesCycle& b) { return a.Units.front() < b.Units.front(); });
  return cycles;
}

namespace {

void AppendDotString(std::string& out, const std::string& bytes) {
  out += '"';
  for (const char ch : bytes) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += ch;
    } else if (c == '\n' || c == '\r') {
      out += ' ';
    } else if (c < 0x80) {
      out += ch;
    } else {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  out += '"';
}

void AppendNodeId(std::string& out, int node) {
  out += 'n';
  out += std::to_string(node);
}

}  // namespace

std::string FormatDot(const TUsesGraph& graph, const std::vector<TUsesCycle>& cycles) {
  std::string out = "digraph uses {\r\n  rankdir=LR;\r\n  node [shape=box, fontname=\"Helvetica\"];\r\n";
  std::vector<int> cycleOf(static_cast<size_t>(graph.Count()), -1);
  for (size_t c = 0; c < cycles.size(); ++c)
    for (const int u : cycles[c].Units) cycleOf[static_cast<size_t>(u)] = static_cast<int>(c);
  auto appendNode = [&](int u, const char* indent) {
    out += indent;
    AppendNodeId(out, u);
    out += " [label=";
    AppendDotString(out, graph[u].Text);
    if (u == 0) out += ", shape=doubleoctagon";
    if (!graph[u].Found) out += ", style=dotted, color=gray50, fontcolor=gray50";
    out += "];\r\n";
  };
  for (int u = 0; u < graph.Count(); ++u)
    if (cycleOf[static_cast<size_t>(u)] < 0) appendNode(u, "  ");
  for (size_t c = 0; c < cycles.size(); ++c) {
    out += "  subgraph cluster_cycle" + std::to_string(c + 1) + " {\r\n    label=\"cycle " + std::to_string(c + 1);
    out += cycles[c].DependsOnClauseOrder ? " (order follows clause order)" : " (interface cycle)";
    out += "\";\r\n    style=rounded;\r\n    color=";
    out += cycles[c].DependsOnClauseOrder ? "orange" : "red";
    out += ";\r\n";
    for (const int u : cycles[c].Units) appendNode(u, "    ");
    out += "  }\r\n";
  }
  for (int u = 0; u < graph.Count(); ++u)
    for (const TUsesEdge& e : graph[u].Uses) {
      out += "  ";
      AppendNodeId(out, u);
      out += " -> ";
      AppendNodeId(out, e.Target);
      out += e.Clause == TUsesClause::Implementation ? " [style=dashed];\r\n" : ";\r\n";
    }
  out += "}\r\n";
  return out;
}

}  // namespace quorrin
