#include "analyzer/compiler_order.h"

#include <cstdint>
#include <unordered_set>

namespace quorrin {
namespace {

enum class TLoadState : uint8_t { Unvisited, Interface, Implementation, Done };

// One compilation of a unit in progress: its first load or a compilation on
// the spot.
struct TCompileFrame {
  int node;
  size_t next = 0;           // next edge of the node's uses
  bool first = true;         // its first load (places the unit when it returns)
  bool pastInterface = false;
  int previousTop = -1;      // the node's previous topmost frame
  int implementationBelow;   // nearest frame at or below this one that walks implementation uses
};

}  // namespace

TCompilerOrder CompilerInitOrder(const TUsesGraph& graph, int start) {
  TCompilerOrder result;
  if (start < 0 || start >= graph.Count()) return result;
  const size_t n = static_cast<size_t>(graph.Count());
  std::vector<TLoadState> state(n, TLoadState::Unvisited);
  std::vector<int> topFrame(n, -1);  // stack index of each unit's topmost frame
  std::vector<TCompileFrame> stack;
  std::unordered_set<uint64_t> circularSeen;  // each (from, to) reported once
  result.Order.reserve(n);

  auto circular = [&](int target) {
    // Every frame from the target's up to the top walks interface uses: a
    // cycle of interface clauses alone.
    return stack.back().implementationBelow < topFrame[static_cast<size_t>(target)];
  };
  auto report = [&](int from, int to) {
    const uint64_t key = static_cast<uint64_t>(from) << 32 | static_cast<uint32_t>(to);
    if (circularSeen.insert(key).second) result.Circular.push_back({from, to});
  };
  auto push = [&](int node, bool first) {
    TCompileFrame frame;
    frame.node = node;
    frame.first = first;
    frame.previousTop = topFrame[static_cast<size_t>(node)];
    frame.implementationBelow = stack.empty() ? -1 : stack.back().implementationBelow;
    topFrame[static_cast<size_t>(node)] = static_cast<int>(stack.size());
    state[static_cast<size_t>(node)] = TLoadState::Interface;
    stack.push_back(frame);
    // The compiler reads the whole interface clause before it loads any
    // unit of it, and refuses a circular name there and then.
    const TUsesGraphNode& unit = graph[node];
    for (size_t i = 0; i < unit.InterfaceCount; ++i) {
      const int target = unit.Uses[i].Target;
      if (state[static_cast<size_t>(target)] == TLoadState::Interface && circular(target)) report(node, target);
    }
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
            report(top.node, target);  // an interface name was reported when its clause was read
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
    topFrame[static_cast<size_t>(node)] = top.previousTop;
    stack.pop_back();
  }
  return result;
}

}  // namespace quorrin
