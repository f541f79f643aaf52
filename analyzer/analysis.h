// Unit resolution on the search paths, the unit tree, the initialization
// order and the section-view texts.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "analyzer/file_lookup.h"
#include "analyzer/text_utils.h"

namespace quorrin {

// One unit met during an analysis.
struct TLoadedUnit {
  std::string UnitFile;  // the name as asked for, with ".pas"
  std::string InitText;  // initialization section, empty when none
  std::string FullPath;  // absolute path, empty when not found
};

// Owning list of unit records with a case-insensitive index of UnitFile.
class TLoadedUnitList {
 public:
  int Count() const { return static_cast<int>(items_.size()); }
  TLoadedUnit* operator[](int i) const { return items_[static_cast<size_t>(i)].get(); }
  // Index of the first record whose UnitFile equals name ignoring ASCII case, or -1.
  int IndexOf(std::string_view name) const;
  TLoadedUnit* Add(std::unique_ptr<TLoadedUnit> unit);
  void Clear();

 private:
  std::vector<std::unique_ptr<TLoadedUnit>> items_;
  std::unordered_map<std::string, int> index_;
};

// The unit tree: node 0 is the root once one exists. Children stand in
// clause order. Kept flat so that neither building nor freeing recurses.
struct TTreeNode {
  std::string Text;
  TLoadedUnit* Data = nullptr;
  int Parent = -1;
  std::vector<int> Children;
};

class TUnitTree {
 public:
  int AddNode(int parent, std::string text);
  int Count() const { return static_cast<int>(nodes_.size()); }
  TTreeNode& operator[](int i) { return nodes_[static_cast<size_t>(i)]; }
  const TTreeNode& operator[](int i) const { return nodes_[static_cast<size_t>(i)]; }
  void Clear() { nodes_.clear(); }

 private:
  std::vector<TTreeNode> nodes_;
};

struct TOrderItem {
  std::string Text;
  TLoadedUnit* Data = nullptr;
};

// The initialization order, a stand-in for the window's list control.
class TOrderList {
 public:
  int Count() const { return static_cast<int>(items_.size()); }
  const TOrderItem& operator[](int i) const { return items_[static_cast<size_t>(i)]; }
  // Index of the first item whose text the list control takes for equal to
  // text (ListMatchKey), or -1.
  int IndexOf(std::string_view text) const;
  void Add(std::string text, TLoadedUnit* data);
  void Clear();

 private:
  std::vector<TOrderItem> items_;
  std::unordered_map<std::string, int> index_;  // by ListMatchKey of the text
};

// Receives the analysis's log lines.
class IAnalysisLog {
 public:
  virtual ~IAnalysisLog() = default;
  virtual void Log(const std::string& text) = 0;
};

// The analysis of one project. Units and search paths belong to the caller;
// the records it creates are appended to loadedUnits.
class TProjectAnalyzer {
 public:
  TProjectAnalyzer(IAnalysisLog& log, TLoadedUnitList& loadedUnits, TStringList searchPaths)
      : log_(log), loadedUnits_(loadedUnits), searchPaths_(std::move(searchPaths)) {}

  // Builds the tree for projectFile (a full path), then the order. Raises
  // EFOpenError when a file cannot be opened; the tree built so far stays
  // and the order stays empty.
  void AnalyzeProject(const std::string& projectFile);

  void LoadUnit(const std::string& fileName, int node);
  std::string FindUnitFile(const std::string& fileName);
  int IndexOfLoadedUnit(std::string_view fileName) const { return loadedUnits_.IndexOf(fileName); }
  void AddInitOrder(int node);

  const TUnitTree& Tree() const { return tree_; }
  const TOrderList& Order() const { return order_; }

 private:
  // Gives node its record; returns true with the used names in list when
  // the node is to get children.
  bool EnterUnit(const std::string& fileName, int node, TStringList& list);

  IAnalysisLog& log_;
  TLoadedUnitList& loadedUnits_;
  TStringList searchPaths_;
  TFileLookup files_;  // one listing per directory for all lookups
  TUnitTree tree_;
  TOrderList order_;
};

// The names of a file's uses clause (program clause or interface clause).
TStringList GetUsesList(const std::string& fileName);
// The initialization section of a unit file.
std::string GetInitializationSection(const std::string& fileName);

// Makes the project file's directory the current directory and logs
// "current dir: " with the directory really in force.
void EnterProjectDirectory(const std::string& projectFile, IAnalysisLog& log);

// What the section view shows for a selected record (nullptr: none).
std::string SectionViewText(const TLoadedUnit* unit);

}  // namespace quorrin
