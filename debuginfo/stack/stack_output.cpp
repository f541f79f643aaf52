// The tracer's last phases: each remaining entry's shown address, names and
// lines, then the call-stack text, the dialog's entries and the checksums.
#include "debuginfo/stack/stack_output.h"

#include "debuginfo/stack/stack_trace_phases.h"

namespace kestrix::stack {

void TStackTracer::TTrace::FillFinalOutput(TTraceResult& out) {
  bool first = true;
  for (int i = static_cast<int>(items_.size()) - 1; i >= 0; --i) {
    Poll();
    TInternalStackItem& item = items_[i];
    if (item.removed) continue;
    item.finalAddr = 0;
    bool haveAddr = false;
    for (const TStackLink& l : item.callerLinks.links) {
      if (l.functionIndex < 0 || !t_.functions_[l.functionIndex].approved) continue;
      const TFunctionEntry& f = t_.functions_[l.functionIndex];
      item.finalAddr = l.codeAddr;
      item.functionName = f.name;
      item.functionEntry = f.info.entryPoint;
      haveAddr = true;
      break;
    }
    if (!haveAddr)
      for (const TStackLink& l : item.callerLinks.links)
        if (l.codeAddr != 0) {
          item.finalAddr = l.codeAddr;
          haveAddr = true;
          break;
        }
    if (!haveAddr) {
      const TStackLinks& callees = item.calleeLinks;
      item.finalAddr = callees.best >= 0 ? callees.links[callees.best].codeAddr : item.address;
    }
    if (item.module < 0) {
      item.moduleName = "???";
    } else {
      const TModuleEntry& m = t_.modules_[item.module];
      item.moduleName = m.name;
      if (m.hasMap) {
        std::string name;
        uint32_t entry = 0;
        if (item.functionName.empty() && env_.MapPublic(item.finalAddr, &name, &entry)) {
          item.functionName = name;
          item.functionEntry = entry;
        }
        item.unitName = env_.MapUnit(item.finalAddr);
        item.line = env_.MapLine(item.finalAddr);
        if (item.line > 0 && in_.showRelLines && item.functionEntry != 0) {
          const int firstLine = env_.MapLine(item.functionEntry);
          if (firstLine > 0) {
            item.absLine = item.line;
            item.line -= firstLine;
          }
        }
      }
    }
    if (first) out.crashAddress = item.finalAddr;
    first = false;
  }
}

void TStackTracer::TTrace::ComposeResult(TTraceResult& out) {
  std::vector<TCallStackEntry> entries;
  std::vector<int> source;
  for (int i = static_cast<int>(items_.size()) - 1; i >= 0; --i) {
    const TInternalStackItem& item = items_[i];
    TCallStackEntry e;
    e.finalAddr = item.finalAddr;
    e.functionEntry = item.functionEntry;
    e.module = item.moduleName;
    e.unit = item.unitName;
    e.line = item.line;
    e.absLine = item.absLine;
    e.function = item.functionName;
    e.removed = item.removed != 0;
    e.isTop = item.isTop != 0;
    entries.push_back(std::move(e));
    source.push_back(i);
  }
  // The creator, the oldest entry, stands last: it is entry 0 of the text
  // rules only when it is the single line, so it is forced here instead.
  TCallStackOptions options;
  options.hideUglyItems = in_.hideUglyItems;
  options.showRelAddrs = in_.showRelAddrs;
  options.showRelLines = in_.showRelLines;
  if (in_.creator != 0 && !entries.empty()) entries.back().isTop = true;
  std::vector<int> printed;
  out.text = ComposeCallStack(entries, options, &printed);
  for (int p : printed) {
    const TCallStackEntry& e = entries[p];
    TStackItem s;
    s.address = e.finalAddr;
    s.relAddr = e.functionEntry != 0 && e.functionEntry < e.finalAddr ? e.finalAddr - e.functionEntry : 0;
    s.module = e.module;
    s.unit = e.unit;
    s.line = e.absLine;
    s.relLine = e.line > 0 || e.absLine > 0 ? e.line : 0;
    s.function = e.function;
    out.items.push_back(std::move(s));
    const TInternalStackItem& item = items_[source[p]];
    if (item.module >= 0 && t_.modules_[item.module].hasMap) out.programCode = true;
  }
}

TLocationFacts LocationFacts(const IStackEnvironment& env, uint32_t address) {
  TLocationFacts f;
  uint32_t base = 0;
  bool committed = false;
  TModuleEntry m;
  if (!env.Region(address, &base, &committed) || !committed || base == 0 || !env.Module(base, &m)) return f;
  f.module = m.name;
  if (env.MapPublic(address, &f.function, &f.entry)) {
    f.described = true;
    f.unit = env.MapUnit(address);
    f.line = env.MapLine(address);
    if (f.entry != 0) f.firstLine = env.MapLine(f.entry);
  } else if (env.ExportBelow(address, &f.function, &f.entry)) {
    f.described = true;
  }
  return f;
}

std::string FormatCodeLocation(const IStackEnvironment& env, uint32_t address, bool showRelAddr, bool showRelLine) {
  return kestrix::FormatCodeLocation(address, LocationFacts(env, address), showRelAddr, showRelLine);
}

}  // namespace kestrix::stack
