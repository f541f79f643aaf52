// One trace's working state and its phases, shared by the tracer's source
// files (collection, links and scoring, final output).
#pragma once

#include <stdexcept>

#include "debuginfo/stack/stack_tracer.h"

namespace kestrix::stack {

// The trace was aborted (the abort flag): ends the phase quietly.
struct TTraceAborted {};

class TStackTracer::TTrace {
 public:
  TTrace(TStackTracer& tables, const IStackEnvironment& env, const TTraceInput& input)
      : t_(tables), env_(env), mem_(env.Memory()), in_(input) {}

  // Phases, in order.
  void CollectPossibleStackItems();
  void RemoveRecursiveAreas(bool invalidate);
  void InDeepChecks();
  void RealizeOptimalLinkChains();
  void FillFinalOutput(TTraceResult& out);
  void ComposeResult(TTraceResult& out);

  std::vector<TInternalStackItem>& Items() { return items_; }
  void Poll() const {
    if (in_.abort && in_.abort->load()) throw TTraceAborted();
  }
  void Progress(int value) const {
    if (in_.progress) in_.progress(value);
  }

 private:
  struct TCallSite {
    bool found = false;
    uint32_t codeAddr = 0;
    uint8_t hasTarget = 0;
    uint32_t target = 0;
    uint32_t after = 0;  // the address after the instruction (a may move to a raising call)
  };

  // Collection.
  void Offer(uint32_t v, bool chainSlot, bool snapshotFlag, bool finalTop);
  int ModuleIndexOf(uint32_t address, bool add);
  int AddModule(uint32_t base);
  int AddFunction(uint32_t x, const std::string& name, int module, bool force, bool approve);
  void Approve(int index);
  TCallSite FindCallSite(int f, uint32_t a, uint32_t b, bool top);
  bool AreaHolds(int f, uint32_t a) const;

  // Links.
  void FollowCall(int j, uint32_t c, bool hasTarget, uint32_t target, bool approve);
  void InvalidateEntry(int i);
  void InvalidateFunction(int f);
  int64_t ScorePath(int x, int y, bool known);
  bool KnownFunction(int f) const { return f >= 0 && !t_.functions_[f].invalid; }

  TStackTracer& t_;
  const IStackEnvironment& env_;
  const decoder::MemoryReader& mem_;
  const TTraceInput& in_;
  std::vector<TInternalStackItem> items_;
  std::vector<uint32_t> chainSlots_;
  uint32_t finallyReturn_ = 0;
};

}  // namespace kestrix::stack
