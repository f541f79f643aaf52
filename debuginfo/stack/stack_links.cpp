// The tracer's middle phases: recursion blocks, the in-depth checks that
// link callers to callees through the calls before each return address,
// and the choice of the best-scored chain between anchored entries.
#include <algorithm>

#include "debuginfo/decoder/decoder.h"
#include "debuginfo/stack/stack_trace_phases.h"

namespace kestrix::stack {
namespace {

constexpr int64_t kBase = int64_t(1) << 60;
constexpr int64_t kAllKnown = int64_t(1) << 61;
constexpr int64_t kReached = int64_t(1) << 62;

void DropLinksTo(TStackLinks& list, int other) {
  std::erase_if(list.links, [other](const TStackLink& l) { return l.otherItem == other; });
  list.best = -1;
}

}  // namespace

// --- recursion blocks -------------------------------------------------------

void TStackTracer::TTrace::RemoveRecursiveAreas(bool invalidate) {
  const int count = static_cast<int>(items_.size());
  for (bool changed = true; changed;) {
    changed = false;
    for (int k = count - 1; k >= 1; --k) {
      Poll();
      if (items_[k].removed) continue;
      int n = 0, i = k - 1;
      for (; i >= 0; --i) {
        if (items_[i].removed) continue;
        if (items_[i].address == items_[k].address) break;
        ++n;
      }
      if (i < 0 || i < n) continue;
      // The n entries below k against the n below i.
      bool same = true;
      int a = k - 1, b = i - 1;
      for (int step = 0; step < n && same; ++step) {
        while (a >= 0 && items_[a].removed) --a;
        while (b >= 0 && items_[b].removed) --b;
        if (a < 0 || b < 0 || items_[a].address != items_[b].address) same = false;
        --a;
        --b;
      }
      if (!same) continue;
      int left = n + 1;
      for (int x = k; x >= 0 && left > 0; --x) {
        if (items_[x].removed) continue;
        items_[x].anchored = 0;
        if (invalidate) {
          InvalidateEntry(x);
        } else {
          items_[x].removed = 1;
        }
        --left;
      }
      changed = true;
    }
  }
}

// --- in-depth checks --------------------------------------------------------------

void TStackTracer::TTrace::InvalidateEntry(int i) {
  TInternalStackItem& item = items_[i];
  if (item.anchored) return;
  item.removed = 1;
  for (const TStackLink& l : item.calleeLinks.links)
    if (l.otherItem >= 0) DropLinksTo(items_[l.otherItem].callerLinks, i);
  for (const TStackLink& l : item.callerLinks.links)
    if (l.otherItem >= 0) DropLinksTo(items_[l.otherItem].calleeLinks, i);
  item.calleeLinks = TStackLinks();
  item.callerLinks = TStackLinks();
}

void TStackTracer::TTrace::InvalidateFunction(int f) {
  t_.functions_[f].invalid = 1;
  for (TInternalStackItem& item : items_) {
    for (TStackLinks* list : {&item.callerLinks, &item.calleeLinks}) {
      const size_t before = list->links.size();
      std::erase_if(list->links, [f](const TStackLink& l) { return l.functionIndex == f; });
      if (list->links.size() != before) list->best = -1;
    }
  }
}

void TStackTracer::TTrace::FollowCall(int j, uint32_t c, bool hasTarget, uint32_t target, bool approve) {
  int f = -1;
  if (hasTarget) {
    f = AddFunction(target, "", -1, false, approve);
    if (f < 0) return;
    for (const parser::TUnknownTarget& u : t_.functions_[f].info.UnknownTargets)
      if (!u.isCall) {
        f = -1;  // it jumps on to somewhere unknown: any entry may be its callee
        break;
      }
  }
  if (f < 0)
    for (const TStackLink& l : items_[j].calleeLinks.links)
      if (l.functionIndex < 0) return;
  // The called function and the functions it jumps on to (tail calls,
  // import thunks): the callee's frame may belong to any of them.
  std::vector<int> callees;
  if (f >= 0) {
    callees.push_back(f);
    for (size_t k = 0; k < callees.size() && callees.size() < 16; ++k) {
      const parser::TFunctionInfo info = t_.functions_[callees[k]].info;
      for (const parser::TKnownTarget& jump : info.KnownTargets) {
        if (jump.isCall || jump.target == 0 || callees.size() >= 16) continue;
        const int g = AddFunction(jump.target, "", -1, false, approve);
        if (g >= 0 && std::find(callees.begin(), callees.end(), g) == callees.end()) callees.push_back(g);
      }
    }
  }
  const int count = static_cast<int>(items_.size());
  for (int i = j + 1; i < count; ++i) {
    Poll();
    TInternalStackItem& item = items_[i];
    if (item.removed) continue;
    TCallSite site;
    int holder = -1;
    if (f < 0) {
      site.found = true;
      site.codeAddr = item.callerLinks.links.empty() ? item.address : item.callerLinks.links[0].codeAddr;
    } else {
      for (int g : callees) {
        site = FindCallSite(g, item.address, 0, item.isTop);
        if (site.found) {
          holder = g;
          break;
        }
      }
      if (site.found && !approve)
        for (const TStackLink& l : item.callerLinks.links)
          if (l.functionIndex >= 0 && t_.functions_[l.functionIndex].approved && l.codeAddr != site.codeAddr) {
            site.found = false;
            break;
          }
    }
    if (site.found) {
      TStackLink caller;
      caller.otherItem = j;
      caller.functionIndex = f < 0 ? -1 : holder;
      caller.hasTarget = site.hasTarget;
      caller.target = site.target;
      caller.codeAddr = site.codeAddr;
      item.callerLinks.links.push_back(caller);
      TStackLink callee;
      callee.otherItem = i;
      callee.functionIndex = caller.functionIndex;
      callee.codeAddr = c;
      items_[j].calleeLinks.links.push_back(callee);
    }
    if (item.anchored) break;
  }
}

void TStackTracer::TTrace::InDeepChecks() {
  const int count = static_cast<int>(items_.size());
  for (int i = in_.creator ? 1 : 0; i < count; ++i) {
    Poll();
    Progress(25 + i * 625 / count);
    TInternalStackItem& item = items_[i];
    if (item.removed) continue;
    int chosen = -1;
    for (size_t k = 0; k < item.callerLinks.links.size() && chosen < 0; ++k) {
      const int f = item.callerLinks.links[k].functionIndex;
      if (f >= 0 && t_.functions_[f].approved) chosen = static_cast<int>(k);
    }
    if (chosen < 0) {
      bool invalidated = false;
      for (size_t f = 0; f < t_.functions_.size() && chosen < 0 && !invalidated; ++f) {
        const TFunctionEntry& fn = t_.functions_[f];
        if (!fn.approved || fn.invalid || !AreaHolds(static_cast<int>(f), item.address)) continue;
        const TCallSite site = FindCallSite(static_cast<int>(f), item.address, 0, item.isTop);
        if (site.found) {
          TStackLink link;
          link.codeAddr = site.codeAddr;
          link.hasTarget = site.hasTarget;
          link.target = site.target;
          link.functionIndex = static_cast<int>(f);
          item.callerLinks.links.push_back(link);
          chosen = static_cast<int>(item.callerLinks.links.size() - 1);
        } else {
          InvalidateEntry(i);
          invalidated = true;
        }
      }
      if (invalidated) continue;
    }
    if (chosen >= 0) {
      const TStackLink link = items_[i].callerLinks.links[chosen];
      std::vector<int> others;
      for (const TStackLink& l : items_[i].callerLinks.links)
        if (l.codeAddr != link.codeAddr && l.functionIndex >= 0 && l.functionIndex != link.functionIndex)
          others.push_back(l.functionIndex);
      for (int f : others) InvalidateFunction(f);
      if (!items_[i].isTop) FollowCall(i, link.codeAddr, link.hasTarget, link.target, true);
      continue;
    }
    if (!items_[i].callerLinks.links.empty() || items_[i].isTop) continue;
    const uint32_t address = items_[i].address;
    uint32_t base = 0;
    bool committed = false;
    if (address <= 7 || !env_.Region(address - 1, &base, &committed) || !committed) continue;
    for (uint32_t q = address - 7; q <= address - 2; ++q) {
      if (q < base) continue;
      const decoder::TInstructionInfo ins = decoder::DecodeInstruction(q, mem_);
      if (ins.isValid && ins.isCall && ins.end == address) FollowCall(i, q, ins.target != 0, ins.target, false);
    }
  }
  Progress(650);
}

// --- scoring and the best chain -------------------------------------------------

int64_t TStackTracer::TTrace::ScorePath(int x, int y, bool known) {
  if (in_.abort && in_.abort->load()) return kBase;
  TStackLinks& list = y > x ? items_[x].calleeLinks : items_[x].callerLinks;
  int64_t best = kBase;
  list.best = -1;
  for (size_t k = 0; k < list.links.size(); ++k) {
    TStackLink& link = list.links[k];
    const int d = link.otherItem;
    if (d < 0 || items_[d].removed) continue;
    if ((y > x && d > y) || (y < x && d < y && y >= 0)) continue;  // beyond the other end
    if (link.score == 0) {
      const bool fnKnown = KnownFunction(link.functionIndex);
      int64_t s;
      if (d == y) {
        s = fnKnown ? (kReached | kAllKnown | kBase) : (kReached | kBase);
      } else {
        s = ScorePath(d, y, known && fnKnown);
      }
      if (!fnKnown) {
        s &= ~kAllKnown;
      } else {
        int e = 14;
        if (known || (s & kAllKnown)) e += 14;
        if (t_.functions_[link.functionIndex].approved) e += 14;
        const TInternalStackItem& from = items_[x];
        const TInternalStackItem& to = items_[d];
        if (from.module >= 0 && to.module >= 0 && t_.modules_[from.module].hasMap) {
          e += 3;
          if (env_.MapLine(from.address - 1) != 0) {
            e += 3;
            if (t_.modules_[to.module].hasMap && env_.MapLine(to.address - 1) != 0) e += 3;
          }
        }
        s += int64_t(1) << e;
      }
      link.score = s;
    }
    if (link.score > best) {
      best = link.score;
      list.best = static_cast<int>(k);
    }
  }
  return best;
}

void TStackTracer::TTrace::RealizeOptimalLinkChains() {
  const int count = static_cast<int>(items_.size());
  if (count == 0) return;
  int b = count - 1;
  while (b >= 0 && !items_[b].anchored) --b;
  if (b < 0) return;
  for (int a = b - 1;; --a) {
    Poll();
    if (a >= 0 && (!items_[a].anchored || items_[a].removed)) continue;
    Progress(650 + (count - 1 - (a < 0 ? 0 : a)) * 350 / count);
    if (b - a >= 2) {
      const int64_t up = a < 0 ? 0 : ScorePath(a, b, true);
      const int64_t down = (up & kReached) ? 0 : ScorePath(b, a, true);
      for (int i = a + 1; i < b; ++i) items_[i].removed = 1;
      if (up > down) {
        for (int at = a; at != b;) {
          const TStackLinks& list = items_[at].calleeLinks;
          if (list.best < 0) break;
          at = list.links[list.best].otherItem;
          if (at < 0 || at >= count) break;
          items_[at].removed = 0;
        }
      } else {
        for (int at = b; at != a;) {
          const TStackLinks& list = items_[at].callerLinks;
          if (list.best < 0) break;
          at = list.links[list.best].otherItem;
          if (at < 0 || at >= count) break;
          items_[at].removed = 0;
        }
      }
    }
    if (a < 0) break;
    b = a;
  }
}

}  // namespace kestrix::stack
