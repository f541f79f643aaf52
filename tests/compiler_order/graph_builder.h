// Builds uses graphs for tests from a compact text:
//   "P: A B | ; A: C D | E; C: | A"
// Each entry is "unit: interface names | implementation names"; entries are
// separated by ';'. Nodes are numbered in the order they are first named,
// the first entry's unit being node 0. Names are compared as written.
#pragma once

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "analyzer/uses_graph.h"

namespace quorrin::testing {

class GraphBuilder {
 public:
  explicit GraphBuilder(const std::string& text) {
    std::vector<std::pair<int, std::pair<std::vector<int>, std::vector<int>>>> entries;
    std::stringstream all(text);
    std::string entry;
    while (std::getline(all, entry, ';')) {
      const size_t colon = entry.find(':');
      if (colon == std::string::npos) continue;
      const int from = Node(Trim(entry.substr(0, colon)));
      const std::string rest = entry.substr(colon + 1);
      const size_t bar = rest.find('|');
      entries.push_back({from, {ParseNames(rest.substr(0, bar)),
                                bar == std::string::npos ? std::vector<int>{} : ParseNames(rest.substr(bar + 1))}});
    }
    for (const std::string& name : names_) graph.AddNode(name, nullptr, true);
    for (const auto& [from, uses] : entries) {
      for (const int to : uses.first) graph.AddEdge(from, to, TUsesClause::Interface);
      for (const int to : uses.second) graph.AddEdge(from, to, TUsesClause::Implementation);
    }
  }

  int operator[](const std::string& name) const { return ids_.at(name); }
  // Node names in the given order, joined by blanks.
  std::string Names(const std::vector<int>& nodes) const {
    std::string out;
    for (const int n : nodes) out += (out.empty() ? "" : " ") + names_[static_cast<size_t>(n)];
    return out;
  }

  TUsesGraph graph;

 private:
  static std::string Trim(const std::string& s) {
    const size_t b = s.find_first_not_of(' ');
    return b == std::string::npos ? std::string() : s.substr(b, s.find_last_not_of(' ') - b + 1);
  }
  std::vector<int> ParseNames(const std::string& list) {
    std::vector<int> out;
    std::stringstream words(list);
    std::string w;
    while (words >> w) out.push_back(Node(w));
    return out;
  }
  int Node(const std::string& name) {
    const auto it = ids_.find(name);
    if (it != ids_.end()) return it->second;
    names_.push_back(name);
    return ids_[name] = static_cast<int>(names_.size()) - 1;
  }

  std::map<std::string, int> ids_;
  std::vector<std::string> names_;
};

}  // namespace quorrin::testing
