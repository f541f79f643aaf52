#include "analyzer/compiler_analysis.h"

#include "analyzer/implementation_uses.h"
#include "analyzer/init_section.h"
#include "analyzer/uses_clause.h"

namespace quorrin {

struct TCompilerOrderAnalyzer::TUnitEntry {
  int graphNode = -1;
  TUnitClauses clauses;
};

bool TCompilerOrderAnalyzer::EnterUnit(const std::string& fileName, int treeNode, TUnitEntry& entry) {
  tree_[treeNode].Data = nullptr;
  if (!SameTextAscii(ExtractFileExt(fileName), ".pas")) {
    // A project file: read for its clause only.
    TMemoryStream stream(source_.ReadWholeFile(fileName, false));
    entry.clauses = GetUnitClausesFromStream(stream, IsProjectFile(fileName));
    entry.graphNode = graph_.AddNode(tree_[treeNode].Text, nullptr, true);
    return true;
  }
  const int idx = loadedUnits_.IndexOf(fileName);
  if (idx != -1) {
    TLoadedUnit* unit = loadedUnits_[idx];
    tree_[treeNode].Data = unit;
    if (graphNodeOf_.size() <= static_cast<size_t>(idx)) graphNodeOf_.resize(static_cast<size_t>(idx) + 1, -1);
    int& node = graphNodeOf_[static_cast<size_t>(idx)];
    // A record from before this analysis: a unit without known uses.
    if (node == -1) node = graph_.AddNode(tree_[treeNode].Text, unit, !unit->FullPath.empty());
    entry.graphNode = node;
    return false;
  }
  const std::string path = HasDirectoryPart(fileName) ? fileName : source_.FindUnitFile(fileName);
  auto record = std::make_unique<TLoadedUnit>();
  record->UnitFile = fileName;
  record->FullPath = path;
  if (!path.empty()) {
    // One read serves both the section scan and the clause scan.
    TMemoryStream stream(source_.ReadWholeFile(path, true));
    record->InitText = GetInitializationSectionFromStream(stream);
    stream.Seek(0, SeekOrigin::Beginning);
    entry.clauses = GetUnitClausesFromStream(stream, false);
  }
  TLoadedUnit* unit = loadedUnits_.Add(std::move(record));
  tree_[treeNode].Data = unit;
  entry.graphNode = graph_.AddNode(tree_[treeNode].Text, unit, !path.empty());
  graphNodeOf_.resize(static_cast<size_t>(loadedUnits_.Count()), -1);
  graphNodeOf_.back() = entry.graphNode;
  return !path.empty();
}

void TCompilerOrderAnalyzer::AnalyzeProject(const std::string& projectFile) {
  tree_.Clear();
  clauses_.clear();
  graph_.Clear();
  graphNodeOf_.clear();
  order_.Clear();
  cycles_.clear();
  walk_ = {};

  // Depth-first in clause order, interface names before implementation
  // names, with an explicit stack: chains may be far deeper than the
  // thread's stack allows recursion.
  struct Frame {
    int treeNode;
    TUnitEntry entry;
    size_t next = 0;
  };
  std::vector<Frame> stack;
  const int root = tree_.AddNode(-1, ExtractFileName(projectFile));
  clauses_.push_back(TUsesClause::Interface);
  {
    Frame frame{root, {}};
    if (EnterUnit(projectFile, root, frame.entry)) stack.push_back(std::move(frame));
  }
  while (!stack.empty()) {
    Frame& top = stack.back();
    const TStringList& intf = top.entry.clauses.Interface;
    const TStringList& impl = top.entry.clauses.Implementation;
    if (top.next == intf.size() + impl.size()) {
      stack.pop_back();
      continue;
    }
    const bool inInterface = top.next < intf.size();
    const std::string& name = inInterface ? intf[top.next] : impl[top.next - intf.size()];
    ++top.next;
    const TUsesClause clause = inInterface ? TUsesClause::Interface : TUsesClause::Implementation;
    const int parentGraphNode = top.entry.graphNode;
    const int child = tree_.AddNode(top.treeNode, name + ".pas");
    clauses_.push_back(clause);
    Frame frame{child, {}};
    const bool expand = EnterUnit(tree_[child].Text, child, frame.entry);
    graph_.AddEdge(parentGraphNode, frame.entry.graphNode, clause);
    if (expand) stack.push_back(std::move(frame));  // may move the frames: top is not used after this
  }

  walk_ = CompilerInitOrder(graph_, 0);
  if (walk_.BudgetExceeded)
    log_.Log("compiler order: more than " + std::to_string(CompileBudget(graph_)) +
             " compilations on the spot; units reached again while walking their interface uses were skipped "
             "after that, so the order from there on may differ from the compiler's");
  for (const TCircularReference& c : walk_.Circular)
    log_.Log("circular unit reference between \"" + graph_[c.From].Text + "\" and \"" + graph_[c.To].Text + "\"");
  for (const int node : walk_.Order)
    if (order_.IndexOf(graph_[node].Text) == -1) order_.Add(graph_[node].Text, graph_[node].Data);
  cycles_ = FindCycles(graph_);
}

}  // namespace quorrin
