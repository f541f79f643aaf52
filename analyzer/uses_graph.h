// The uses graph of a project: one node per distinct unit (and the project
// file), one edge per name in an interface or implementation clause. Its
// strongly connected components are the project's unit cycles.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quorrin {

struct TLoadedUnit;

// The clause through which a unit is used. A program's uses clause counts
// as an interface clause: the compiler walks it first and it cannot close a
// cycle.
enum class TUsesClause : uint8_t { Interface, Implementation };

const char* ClauseName(TUsesClause clause);  // "interface" or "implementation"

struct TUsesEdge {
  int Target;
  TUsesClause Clause;
};

struct TUsesGraphNode {
  std::string Text;             // as in the tree: "Name.pas", or the project file's name
  TLoadedUnit* Data = nullptr;  // none for a project file that is not a .pas file
  bool Found = false;           // the file was found and read
  // Interface edges first, then implementation edges, each in clause order.
  std::vector<TUsesEdge> Uses;
  size_t InterfaceCount = 0;
};

class TUsesGraph {
 public:
  int AddNode(std::string text, TLoadedUnit* data, bool found);
  void AddEdge(int from, int to, TUsesClause clause);  // interface edges before implementation edges
  int Count() const { return static_cast<int>(nodes_.size()); }
  const TUsesGraphNode& operator[](int i) const { return nodes_[static_cast<size_t>(i)]; }
  size_t EdgeCount() const { return edges_; }
  void Clear();

 private:
  std::vector<TUsesGraphNode> nodes_;
  size_t edges_ = 0;
};

struct TCycleEdge {
  int From;
  int To;
  TUsesClause Clause;
};

// One strongly connected component with more than one unit, or a unit that
// names itself.
struct TUsesCycle {
  std::vector<int> Units;         // ascending node numbers (the order units were met)
  std::vector<TCycleEdge> Edges;  // every edge between its units, by source unit, then clause order
  // An implementation edge takes part: the compiler accepts the cycle and
  // the initialization order then follows from the order of the clauses.
  // Without one it is an interface cycle, which the compiler refuses.
  bool DependsOnClauseOrder = false;
};

// The strongly connected components in linear time (Tarjan's algorithm with
// an explicit stack), ordered by their first unit.
std::vector<TUsesCycle> FindCycles(const TUsesGraph& graph);

// Graphviz DOT text with CR LF line ends: interface edges solid,
// implementation edges dashed, units whose file was not found dotted and
// grey, each cycle in a cluster of its own. Names are written as UTF-8
// (bytes as Latin-1).
std::string FormatDot(const TUsesGraph& graph, const std::vector<TUsesCycle>& cycles);

}  // namespace quorrin
