#include "analyzer/compiler_order.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <unordered_set>

namespace quorrin {
namespace {

enum class TLoadState : uint8_t { Unvisited, Interface, Implementation, Done };

// One compilation of a unit in progress: its first load or a compilation on
// the spot.
struct TCompileFrame {
  int node;
  size_t next = 0;              // next edge of the node's uses
  bool first = true;            // its first load (places the unit when it returns)
  bool pastInterface = false;
  bool leftInInterface = false; // passed a use whose unit stays walking its interface (circular, or beyond the budget)
  int previousTop = -1;         // the node's previous topmost frame
  int implementationBelow;      // nearest frame at or below this one that walks implementation uses
};

uint64_t EdgeKey(int from, int to) { return static_cast<uint64_t>(from) << 32 | static_cast<uint32_t>(to); }

// std::hash of a 64-bit key keeps only its low half where size_t has 32 bits.
struct EdgeKeyHash {
  size_t operator()(uint64_t key) const { return static_cast<size_t>(key ^ (key >> 32) * 0x9E3779B97F4A7C15ull); }
};

}  // namespace

size_t CompileBudget(const TUsesGraph& graph) {
  return 16 * (static_cast<size_t>(graph.Count()) + graph.EdgeCount()) + 4096;
}

TCompilerOrder CompilerInitOrder(const TUsesGraph& graph, int start) {
  TCompilerOrder result;
  if (start < 0 || start >= graph.Count()) return result;
  const size_t n = static_cast<size_t>(graph.Count());
  std::vector<TLoadState> state(n, TLoadState::Unvisited);
  std::vector<int> topFrame(n, -1);  // stack index of each unit's topmost frame
  std::vector<TCompileFrame> stack;
  std::unordered_set<uint64_t, EdgeKeyHash> circularSeen;  // each (from, to) reported once
  const size_t budget = CompileBudget(graph);
  result.Order.reserve(n);
  // Each unit's interface uses as (target, clause position), sorted, for the
  // circular check by frames: flat arrays, one range per unit.
  std::vector<size_t> interfaceStart(n + 1, 0);
  for (size_t u = 0; u < n; ++u) interfaceStart[u + 1] = interfaceStart[u] + graph[static_cast<int>(u)].InterfaceCount;
  std::vector<std::pair<int, size_t>> interfaceUses(interfaceStart[n]);
  for (size_t u = 0; u < n; ++u) {
    const TUsesGraphNode& unit = graph[static_cast<int>(u)];
    const auto first = interfaceUses.begin() + static_cast<std::ptrdiff_t>(interfaceStart[u]);
    for (size_t i = 0; i < unit.InterfaceCount; ++i) first[static_cast<std::ptrdiff_t>(i)] = {unit.Uses[i].Target, i};
    std::sort(first, first + static_cast<std::ptrdiff_t>(unit.InterfaceCount));
  }
  auto interfacePosition = [&](int node, int target) -> size_t {
    const auto first = interfaceUses.begin() + static_cast<std::ptrdiff_t>(interfaceStart[static_cast<size_t>(node)]);
    const auto last = interfaceUses.begin() + static_cast<std::ptrdiff_t>(interfaceStart[static_cast<size_t>(node) + 1]);
    const auto it = std::lower_bound(first, last, std::make_pair(target, size_t{0}));
    return it != last && it->first == target ? it->second : SIZE_MAX;
  };

  auto circular = [&](int target) {
    // Every frame from the target's up to the top walks interface uses: a
    // cycle of interface clauses alone.
    return stack.back().implementationBelow < topFrame[static_cast<size_t>(target)];
  };
  auto report = [&](int from, int to) {
    if (circularSeen.insert(EdgeKey(from, to)).second) result.Circular.push_back({from, to});
  };
  // The compiler reads the whole interface clause before it loads any unit
  // of it, and refuses a circular name there and then. Only units whose
  // topmost frame lies above the nearest frame that walks implementation
  // uses can be circular: look through the clause or through those frames,
  // whichever is shorter.
  std::vector<std::pair<size_t, int>> hits;
  auto checkClause = [&](int node, size_t from) {
    const TUsesGraphNode& unit = graph[node];
    const size_t firstFree = static_cast<size_t>(stack.back().implementationBelow + 1);
    if (unit.InterfaceCount - from <= stack.size() - firstFree) {
      for (size_t i = from; i < unit.InterfaceCount; ++i) {
        const int target = unit.Uses[i].Target;
        if (state[static_cast<size_t>(target)] == TLoadState::Interface && circular(target)) report(node, target);
      }
      return;
    }
    hits.clear();
    for (size_t f = firstFree; f < stack.size(); ++f) {
      const int target = stack[f].node;
      if (topFrame[static_cast<size_t>(target)] != static_cast<int>(f) ||
          state[static_cast<size_t>(target)] != TLoadState::Interface)
        continue;
      const size_t position = interfacePosition(node, target);
      if (position != SIZE_MAX && position >= from) hits.emplace_back(position, target);
    }
    std::sort(hits.begin(), hits.end());
    for (const auto& [position, target] : hits) report(node, target);
  };
  auto push = [&](int node, bool first) {
    TCompileFrame frame;
    frame.node = node;
    frame.first = first;
    frame.previousTop = topFrame[static_cast<size_t>(node)];
    frame.implementationBelow = stack.empty() ? -1 : stack.back().implementationBelow;
    if (!first) {
      // The frame below walks the same clause and is at the use it explores:
      // every use before that one has been dealt with (its unit is loaded
      // and past its interface), so a new walk passes them without effect,
      // unless one was refused as circular.
      const TCompileFrame& previous = stack[static_cast<size_t>(frame.previousTop)];
      if (!previous.leftInInterface) frame.next = previous.next - 1;
    }
    topFrame[static_cast<size_t>(node)] = static_cast<int>(stack.size());
    state[static_cast<size_t>(node)] = TLoadState::Interface;
    stack.push_back(frame);
    checkClause(node, frame.next);
  };

  push(start, true);
  while (!stack.empty()) {
    TCompileFrame& top = stack.back();
    const TUsesGraphNode& unit = graph[top.node];
    if (!top.pastInterface && top.next >= unit.InterfaceCount) {
      top.pastInterface = true;
      top.implementationBelow = static_cast<int>(stack.size()) - 1;
      state[static_cast<size_t>(top.node)] = TLoadState::Implementation;
    }
    if (top.next < unit.Uses.size()) {
      const int target = unit.Uses[top.next++].Target;
      switch (state[static_cast<size_t>(target)]) {
        case TLoadState::Unvisited:
          push(target, true);
          break;
        case TLoadState::Interface:
          if (circular(target)) {
            top.leftInInterface = true;
            report(top.node, target);  // an interface name was reported when its clause was read
          } else if (result.Compiles == budget) {
            top.leftInInterface = true;
            result.BudgetExceeded = true;
          } else {
            ++result.Compiles;
            push(target, false);
          }
          break;
        default:
          break;
      }
      continue;
    }
    const int node = top.node;
    if (top.first) {
      state[static_cast<size_t>(node)] = TLoadState::Done;
      result.Order.push_back(node);
    }
    // A finished compilation dealt with every use of the unit: what an older
    // one has left of its walk passes them without effect.
    if (top.previousTop >= 0 && !top.leftInInterface) {
      TCompileFrame& older = stack[static_cast<size_t>(top.previousTop)];
      older.next = graph[node].Uses.size();
    }
    topFrame[static_cast<size_t>(node)] = top.previousTop;
    stack.pop_back();
  }
  return result;
}

}  // namespace quorrin
