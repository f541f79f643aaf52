// The tracer's driver and its first phase: the module and function tables,
// the candidates from the raw stack (or a snapshot), the "after a call"
// check and the search of the call site in a function.
#include <algorithm>
#include <cctype>

#include "debuginfo/decoder/decoder.h"
#include "debuginfo/stack/stack_output.h"
#include "debuginfo/stack/stack_trace_phases.h"

namespace kestrix::stack {
namespace {

constexpr const char* kPhaseNames[] = {"CollectPossibleStackItems", "RemoveRecursiveStackAreas", "InDeepChecks",
                                       "RealizeOptimalLinkChains",  "RemoveRecursiveAreas",      "FillFinalOutput",
                                       "ComposeResult"};

bool ContainsNoCase(const std::string& text, const char* part) {
  std::string a = text, b = part;
  for (char& c : a) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (char& c : b) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return a.find(b) != std::string::npos;
}

bool RegReg23(uint8_t modrm) { return (modrm & 0x30) == 0x10; }

}  // namespace

bool TStackTracer::IsAfterCall(const decoder::MemoryReader& memory, uint32_t v) {
  uint8_t b[8];
  if (v < 8 || !memory.Read(v - 8, b, 8)) return false;
  // b[8 - k] is the byte at v - k.
  auto at = [&](int k) { return b[8 - k]; };
  return at(5) == 0xE8 || (at(2) == 0xFF && RegReg23(at(1))) || (at(3) == 0xFF && RegReg23(at(2))) ||
         (at(4) == 0xFF && RegReg23(at(3))) || (at(6) == 0xFF && RegReg23(at(5))) ||
         (at(7) == 0xFF && RegReg23(at(6))) || at(7) == 0x9A;
}

std::vector<uint32_t> FrameChainSlots(const decoder::MemoryReader& memory, uint32_t fp, uint32_t bottom,
                                      uint32_t top) {
  std::vector<uint32_t> slots;
  if (fp == 0) return slots;
  if (fp + 4 > bottom && fp + 4 < top) slots.push_back(fp + 4);
  uint32_t current = fp;
  while (current + 4 < top && slots.size() < 0x100000) {
    uint32_t saved = 0;
    if (!memory.ReadDword(current, &saved) || saved <= current) break;
    if (saved + 4 > bottom && saved + 4 < top) slots.push_back(saved + 4);
    current = saved;
  }
  return slots;
}

std::vector<TPreStackItem> TStackTracer::PrepareStackSnapshot(const decoder::MemoryReader& memory,
                                                              uint32_t framePointer, uint32_t top, uint32_t bottom,
                                                              bool isException, uint32_t currentAddress) {
  std::vector<TPreStackItem> records;
  if (top <= bottom || top - bottom < 4) return records;
  uint32_t probe;
  if (!memory.ReadDword(bottom, &probe) || !memory.ReadDword(top - 4, &probe)) return records;
  try {
    records.reserve(64);
    const std::vector<uint32_t> chain = FrameChainSlots(memory, framePointer, bottom, top);
    for (uint32_t slot = top - 4; slot >= bottom && slot + 4 > slot; slot -= 4) {
      uint32_t v = 0;
      if (memory.ReadDword(slot, &v)) {
        if (isException && currentAddress != 0 && v == currentAddress) break;
        const bool flagged = std::binary_search(chain.begin(), chain.end(), slot);
        if (v > 7 && IsAfterCall(memory, v)) {
          records.push_back({static_cast<uint8_t>(flagged), v});
          if (flagged) slot -= 4;  // the saved frame pointer beside it
        }
      }
      if (slot < bottom + 4) break;
    }
  } catch (...) {
    records.clear();
  }
  return records;
}

void TStackTracer::Clear() {
  modules_.clear();
  functions_.clear();
  functionIndex_.clear();
}

// --- tables -----------------------------------------------------------------

int TStackTracer::TTrace::AddModule(uint32_t base) {
  for (size_t i = 0; i < t_.modules_.size(); ++i)
    if (t_.modules_[i].handle == base) return static_cast<int>(i);
  TModuleEntry m;
  if (!env_.Module(base, &m)) return -1;
  if (t_.modules_.capacity() == t_.modules_.size())
    t_.modules_.reserve(std::max<size_t>(16, t_.modules_.size() * 2));
  t_.modules_.push_back(m);
  return static_cast<int>(t_.modules_.size() - 1);
}

int TStackTracer::TTrace::ModuleIndexOf(uint32_t address, bool add) {
  for (size_t i = 0; i < t_.modules_.size(); ++i) {
    const TModuleEntry& m = t_.modules_[i];
    if ((address > m.codeBegin && address < m.codeEnd) || (address > m.dataBegin && address < m.dataEnd))
      return static_cast<int>(i);
  }
  if (!add) return -1;
  uint32_t base = 0;
  bool committed = false;
  if (!env_.Region(address, &base, &committed) || base == 0) return -1;
  return AddModule(base);
}

void TStackTracer::TTrace::Approve(int index) {
  std::vector<int> work{index};
  while (!work.empty()) {
    const int f = work.back();
    work.pop_back();
    if (t_.functions_[f].approved) continue;
    t_.functions_[f].approved = 1;
    for (const parser::TKnownTarget& k : t_.functions_[f].info.KnownTargets) {
      if (k.isCall) continue;
      auto it = t_.functionIndex_.find(k.target);
      if (it != t_.functionIndex_.end() && !t_.functions_[it->second].approved) work.push_back(it->second);
    }
  }
}

int TStackTracer::TTrace::AddFunction(uint32_t x, const std::string& name, int module, bool force, bool approve) {
  // Added one by one; the jump targets of each new function follow it.
  struct TPending {
    uint32_t x;
    std::string name;
    int module;
    bool force;
  };
  std::vector<TPending> work{{x, name, module, force}};
  int first = -1;
  bool isFirst = true;
  while (!work.empty()) {
    Poll();
    TPending p = std::move(work.back());
    work.pop_back();
    const bool wasFirst = isFirst;
    isFirst = false;
    auto it = t_.functionIndex_.find(p.x);
    if (p.x != 0 && it != t_.functionIndex_.end()) {
      if (approve) Approve(it->second);
      if (wasFirst) first = it->second;
      continue;
    }
    if (p.x == 0 && !p.force) continue;
    int m = ModuleIndexOf(p.x, true);
    if (p.module >= 0) m = p.module;
    parser::TParseContext context;
    context.reader = &mem_;
    context.environment = &env_.Code();
    if (m >= 0 && t_.modules_[m].handle != env_.OwnModule() && t_.modules_[m].hasMap) context.routines = env_.Routines(p.x);
    TFunctionEntry f;
    f.module = m;
    f.info = parser::ParseFunctionCode(p.x, context);
    if (!f.info.isValid) {
      if (!p.force) continue;
      f.info = parser::TFunctionInfo();
      f.info.isValid = 1;
      f.info.entryPoint = p.x;
      f.info.codeBegin = p.x;
      f.info.codeLength = 0;
    }
    f.name = p.name;
    if (f.name.empty()) {
      uint32_t entry = 0;
      std::string found;
      if (env_.MapPublic(p.x, &found, &entry) && entry == p.x) {
        f.name = found;
      } else if (env_.ExportBelow(p.x, &found, &entry) && entry == p.x) {
        f.name = found;
      }
    }
    if (t_.functions_.capacity() == t_.functions_.size())
      t_.functions_.reserve(std::max<size_t>(16, t_.functions_.size() * 2));
    t_.functions_.push_back(std::move(f));
    const int index = static_cast<int>(t_.functions_.size() - 1);
    t_.functionIndex_[p.x] = index;
    if (approve) Approve(index);
    if (wasFirst) first = index;
    for (const parser::TKnownTarget& k : t_.functions_[index].info.KnownTargets)
      if (!k.isCall && k.target != 0 && !t_.functionIndex_.count(k.target)) work.push_back({k.target, "", -1, false});
  }
  return first;
}

bool TStackTracer::TTrace::AreaHolds(int f, uint32_t a) const {
  for (const parser::TCodeArea& area : t_.functions_[f].info.CodeAreas)
    if (!area.IsData() && area.begin < a && a <= area.end + 1) return true;
  return false;
}

TStackTracer::TTrace::TCallSite TStackTracer::TTrace::FindCallSite(int f, uint32_t a, uint32_t b, bool top) {
  TCallSite site;
  if (f < 0 || t_.functions_[f].invalid) return site;
  const parser::TFunctionInfo& info = t_.functions_[f].info;
  if (!top) {
    for (const parser::TUnknownTarget& u : info.UnknownTargets)
      if (u.after == a) return {true, u.instruction, 0, 0, a};
    for (const parser::TKnownTarget& k : info.KnownTargets)
      if (k.after == a) return {true, k.instruction, 1, k.target, a};
    return site;
  }
  if (info.codeLength < 1 && info.CodeAreas.empty()) {
    if (info.entryPoint == a) return {true, a, 0, 0, a};
    return site;
  }
  if (b != 0) {
    for (const parser::TKnownTarget& k : info.KnownTargets) {
      if (k.after != b) continue;
      auto it = t_.functionIndex_.find(k.target);
      if (it == t_.functionIndex_.end()) continue;
      const std::string& name = t_.functions_[it->second].name;
      if (ContainsNoCase(name, "@RaiseExcept") || ContainsNoCase(name, "Error")) return {true, k.instruction, 1, k.target, b};
    }
  }
  for (const parser::TCodeArea& area : info.CodeAreas) {
    if (area.IsData() || !(area.begin < a && a <= area.end + 1)) continue;
    uint32_t at = area.begin, last = area.begin;
    while (at < a) {
      const decoder::TInstructionInfo ins = decoder::DecodeInstruction(at, mem_);
      last = at;
      if (ins.end <= at) break;
      at = ins.end;
    }
    if (at == a) return {true, last, 0, 0, a};
    return site;
  }
  return site;
}

// --- collection ---------------------------------------------------------------

void TStackTracer::TTrace::Offer(uint32_t v, bool chainSlot, bool snapshotFlag, bool finalTop) {
  if (finallyReturn_ != 0 && v == finallyReturn_) return;
  bool top = finalTop || (in_.isException && v != 0 && v == in_.currentAddress);
  const bool creatorEntry = in_.creator != 0 && items_.empty();
  const uint32_t original = v;
  uint32_t lookAt = v - 1;
  if (top) {
    uint8_t probe[8];
    if (mem_.Read(v, probe, 8)) {
      const decoder::TInstructionInfo ins = decoder::DecodeInstruction(v, mem_);
      if (ins.isValid) v = ins.end;
    }
    lookAt = original;
  }
  if (creatorEntry) top = true;

  uint32_t allocationBase = 0;
  bool committed = false;
  const bool region = env_.Region(lookAt, &allocationBase, &committed);
  int module = -1;
  bool inCode = false;
  bool qualified = false;
  if (region && committed && allocationBase != 0 && v > 7 && (top || TStackTracer::IsAfterCall(mem_, v))) {
    module = ModuleIndexOf(lookAt, true);
    if (module < 0) {
      qualified = true;
    } else {
      const TModuleEntry& m = t_.modules_[module];
      inCode = m.codeBegin < v && v <= m.codeEnd;
      qualified = inCode || (m.dataBegin < v && v <= m.dataEnd);
    }
  }

  TCallSite site;
  int function = -1;
  if (module >= 0 && inCode) {
    const TModuleEntry& m = t_.modules_[module];
    const uint32_t b = top && !in_.isExternal ? original : 0;
    std::string name;
    uint32_t entry = 0;
    if (m.hasMap && env_.MapPublic(lookAt, &name, &entry)) {
      function = AddFunction(entry, name, module, false, true);
      site = FindCallSite(function, v, b, top);
      if (!site.found && function >= 0) {
        // Code of the public reached by a jump (a cold part, a label): a
        // function of its own.
        const parser::TFunctionInfo info = t_.functions_[function].info;
        const uint32_t end = info.codeBegin + info.codeLength;
        int label = 0;
        for (const parser::TKnownTarget& k : info.KnownTargets) {
          Poll();
          if (k.target <= entry) continue;
          if (k.target >= end) {
            std::string other;
            uint32_t otherEntry = 0;
            if (!env_.MapPublic(k.target, &other, &otherEntry) || otherEntry != entry) continue;
          }
          const int sub = AddFunction(k.target, name + ".@" + std::to_string(++label), module, false, true);
          const TCallSite s = FindCallSite(sub, v, b, top);
          if (s.found) {
            function = sub;
            site = s;
            break;
          }
        }
      }
    } else if (!m.hasMap && m.handle != env_.MainModule() && env_.ExportBelow(lookAt, &name, &entry)) {
      const int f = AddFunction(entry, name, module, false, true);
      if (f >= 0 && AreaHolds(f, top ? lookAt + 1 : v)) {
        function = f;
        site = FindCallSite(function, v, b, top);
      }
    }
  }
  if (top && !site.found) {
    if (in_.isException && in_.isExternal) {
      uint8_t probe;
      if (!mem_.Read(original, &probe, 1)) {
        function = AddFunction(original, "", module, true, false);
        if (function >= 0) site = FindCallSite(function, original, 0, true);
      }
    }
    if (!site.found && !(in_.isException && !in_.isExternal)) site = {true, original, 0, 0, v};
    if (!site.found) site.codeAddr = 0;
  }
  if (site.found && top) v = site.after;

  if (!(top || qualified || snapshotFlag || chainSlot)) return;
  TInternalStackItem item;
  item.address = v;
  item.anchored = top || snapshotFlag || chainSlot;
  item.isTop = top && !creatorEntry;
  item.module = module >= 0 ? module : ModuleIndexOf(lookAt, false);
  if (site.found) {
    TStackLink link;
    link.codeAddr = site.codeAddr;
    link.hasTarget = site.hasTarget;
    link.target = site.target;
    link.functionIndex = function;
    item.callerLinks.links.reserve(8);
    item.callerLinks.links.push_back(link);
  }
  if (items_.capacity() == items_.size()) items_.reserve(std::max<size_t>(64, items_.size() * 2));
  items_.push_back(std::move(item));
}

void TStackTracer::TTrace::CollectPossibleStackItems() {
  finallyReturn_ = env_.FinallyExitReturn();
  if (in_.creator) Offer(in_.creator, false, false, false);
  if (in_.snapshot) {
    const size_t n = in_.snapshot->size();
    for (size_t i = 0; i < n; ++i) {
      Poll();
      const TPreStackItem& r = (*in_.snapshot)[i];
      Offer(r.address, false, r.frameChain != 0, false);
      Progress(static_cast<int>(i * 25 / n));
      if (!items_.empty() && items_.back().isTop) break;
    }
  } else {
    chainSlots_ = FrameChainSlots(mem_, in_.framePointer, in_.bottom, in_.top);
    const uint32_t span = in_.top - in_.bottom;
    for (uint32_t slot = in_.top - 4; slot >= in_.bottom && slot < in_.top; slot -= 4) {
      if (((in_.top - slot) & 0xFF) == 0) {
        Poll();
        Progress(static_cast<int>(static_cast<uint64_t>(in_.top - slot) * 25 / span));
      }
      uint32_t v = 0;
      const size_t before = items_.size();
      if (mem_.ReadDword(slot, &v)) {
        const bool chain = std::binary_search(chainSlots_.begin(), chainSlots_.end(), slot);
        Offer(v, chain, false, false);
        if (items_.size() > before && items_.back().anchored && !items_.back().isTop) slot -= 4;
      }
      if (!items_.empty() && items_.back().isTop && items_.size() > before) break;
      if (slot < in_.bottom + 4) break;
    }
  }
  if (!in_.noTopEntry && (items_.empty() || !items_.back().isTop)) Offer(in_.currentAddress, false, false, true);
  Progress(25);
}

// --- the driver -----------------------------------------------------------------

TTraceResult TStackTracer::TraceStack(const IStackEnvironment& env, const TTraceInput& input) {
  TTraceResult out;
  const decoder::MemoryReader& mem = env.Memory();
  uint32_t probe;
  if (input.top <= input.bottom || !mem.ReadDword(input.bottom, &probe) || !mem.ReadDword(input.top - 4, &probe))
    return out;
  TTrace trace(*this, env, input);
  int phase = 0;
  try {
    trace.Poll();
    trace.CollectPossibleStackItems();
    phase = 1;
    trace.Poll();
    trace.RemoveRecursiveAreas(true);
    phase = 2;
    trace.Poll();
    trace.InDeepChecks();
    phase = 3;
    trace.Poll();
    if (!input.rawTrace) trace.RealizeOptimalLinkChains();
    trace.Progress(1000);
    phase = 4;
    trace.Poll();
    trace.RemoveRecursiveAreas(false);
    phase = 5;
    trace.Poll();
    trace.FillFinalOutput(out);
    phase = 6;
    trace.ComposeResult(out);
  } catch (const TTraceAborted&) {
    // The text built so far stays.
  } catch (...) {
    out.text = TCallStackText();
    out.items.clear();
    out.text.text = std::string(">> internal error in ") + kPhaseNames[phase];
    if (input.isException)
      out.text.text += "\r\n>> original exception location: \r\n" +
                       FormatCodeLocation(env, input.currentAddress, input.showRelAddrs, input.showRelLines);
  }
  out.entries = std::move(trace.Items());
  return out;
}

}  // namespace kestrix::stack
