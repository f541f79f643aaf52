// The compiler-order analysis: like the window's analysis it resolves units
// on the search paths and builds the unit tree, but it follows the
// implementation uses clauses too, reads each file once into memory, keeps
// the uses graph and derives from it the compiler's initialization order
// and the unit cycles.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "analyzer/analysis.h"
#include "analyzer/compiler_order.h"
#include "analyzer/uses_graph.h"

namespace quorrin {

// Where the analysis finds and reads files.
class IUnitSource {
 public:
  virtual ~IUnitSource() = default;
  // The absolute path of a unit file named without a directory, or empty
  // when it is nowhere; logs the lookup as the window's analysis does.
  virtual std::string FindUnitFile(const std::string& fileName) = 0;
  // The whole file. unitFile: a .pas file, opened as the section scan opens
  // it. Raises the open error when the file cannot be opened.
  virtual std::string ReadWholeFile(const std::string& path, bool unitFile) = 0;
};

class TCompilerOrderAnalyzer {
 public:
  TCompilerOrderAnalyzer(IUnitSource& source, IAnalysisLog& log, TLoadedUnitList& loadedUnits)
      : source_(source), log_(log), loadedUnits_(loadedUnits) {}

  // Builds tree and graph for projectFile (a full path), then the order and
  // the cycles. An open error leaves this function; what was built so far
  // stays, and order and cycles stay empty.
  void AnalyzeProject(const std::string& projectFile);

  const TUnitTree& Tree() const { return tree_; }
  // The clause that names each tree node (the root's: interface).
  const std::vector<TUsesClause>& Clauses() const { return clauses_; }
  const TUsesGraph& Graph() const { return graph_; }
  const TOrderList& Order() const { return order_; }
  const std::vector<TUsesCycle>& Cycles() const { return cycles_; }
  const TCompilerOrder& Walk() const { return walk_; }

 private:
  struct TUnitEntry;
  // Gives a tree node its record and graph node; returns true with the used
  // names when the node is to get children.
  bool EnterUnit(const std::string& fileName, int treeNode, TUnitEntry& entry);

  IUnitSource& source_;
  IAnalysisLog& log_;
  TLoadedUnitList& loadedUnits_;
  TUnitTree tree_;
  std::vector<TUsesClause> clauses_;
  TUsesGraph graph_;
  std::vector<int> graphNodeOf_;  // by index in loadedUnits; -1: a record from before this analysis
  TOrderList order_;
  std::vector<TUsesCycle> cycles_;
  TCompilerOrder walk_;
};

}  // namespace quorrin
