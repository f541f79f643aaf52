// The analysis's containers (unit records, tree, order list): portable, so
// that both analysis modes build and test natively.
#include "analyzer/analysis.h"

#include "analyzer/list_match.h"

namespace quorrin {

int TLoadedUnitList::IndexOf(std::string_view name) const {
  const auto it = index_.find(LowerAscii(name));
  return it == index_.end() ? -1 : it->second;
}

TLoadedUnit* TLoadedUnitList::Add(std::unique_ptr<TLoadedUnit> unit) {
  index_.emplace(LowerAscii(unit->UnitFile), Count());  // keeps the first
  items_.push_back(std::move(unit));
  return items_.back().get();
}

void TLoadedUnitList::Clear() {
  items_.clear();
  index_.clear();
}

int TUnitTree::AddNode(int parent, std::string text) {
  TTreeNode node;
  node.Text = std::move(text);
  node.Parent = parent;
  nodes_.push_back(std::move(node));
  const int id = Count() - 1;
  if (parent >= 0) (*this)[parent].Children.push_back(id);
  return id;
}

int TOrderList::IndexOf(std::string_view text) const {
  const auto it = index_.find(ListMatchKey(text));
  return it == index_.end() ? -1 : it->second;
}

void TOrderList::Add(std::string text, TLoadedUnit* data) {
  index_.emplace(ListMatchKey(text), Count());  // keeps the first
  items_.push_back({std::move(text), data});
}

void TOrderList::Clear() {
  items_.clear();
  index_.clear();
}

}  // namespace quorrin
