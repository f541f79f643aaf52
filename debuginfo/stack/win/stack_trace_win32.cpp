// The own process as the stack tracer sees it, and the stacks of its
// threads: a held thread's stack is copied while it is suspended (nothing
// that could wait for a lock it holds runs then) and traced afterwards.
#include "debuginfo/stack/win/stack_trace_win32.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "crash/report/win/code_locations_win32.h"
#include "debuginfo/decoder/win/safe_read_win32.h"
#include "debuginfo/map/map_file.h"
#include "debuginfo/readers/win/module_maps_win32.h"
#include "debuginfo/parser/win/own_process_win32.h"
#include "debuginfo/stack/stack_memory.h"
#include "debuginfo/stack/stack_output.h"

namespace kestrix::stack {
namespace {

// The most of a crashed thread's stack read as overwritten by the handling.
constexpr uint32_t kMaxStaleCopy = 4 * 1024 * 1024;

uint32_t Address(const void* p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); }

HMODULE ThisModule() {
  HMODULE module = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCSTR>(&ThisModule), &module);
  return module;
}

// The end of the committed memory run that holds address (a stack's base).
uint32_t RegionEnd(uint32_t address) {
  MEMORY_BASIC_INFORMATION info;
  if (VirtualQuery(reinterpret_cast<const void*>(static_cast<uintptr_t>(address)), &info, sizeof info) != sizeof info ||
      info.State != MEM_COMMIT)
    return 0;
  return Address(info.BaseAddress) + static_cast<uint32_t>(info.RegionSize);
}

// The module facts the parser asks for again and again, read once per
// process: code ranges and the addresses of named exports.
class TModuleFacts final : public parser::CodeEnvironment {
 public:
  bool IsCommitted(uint32_t address) const override { return parser::IsCommittedAddress(address); }
  bool CodeRange(uint32_t address, uint32_t* begin, uint32_t* end) const override {
    const TFacts* f = FactsAt(address);
    if (!f) return false;
    *begin = f->codeBegin;
    *end = f->codeEnd;
    return true;
  }
  bool IsNamedExport(uint32_t address) const override {
    const TFacts* f = FactsAt(address);
    return f && std::binary_search(f->exports.begin(), f->exports.end(), address);
  }
  std::string SystemErrorText(uint32_t error) const override { return parser::SystemErrorMessage(error); }

 private:
  struct TFacts {
    uint32_t codeBegin = 0, codeEnd = 0;
    std::vector<uint32_t> exports;  // sorted
  };
  const TFacts* FactsAt(uint32_t address) const {
    MEMORY_BASIC_INFORMATION info;
    if (VirtualQuery(reinterpret_cast<const void*>(static_cast<uintptr_t>(address)), &info, sizeof info) !=
            sizeof info ||
        info.Type != MEM_IMAGE)
      return nullptr;
    const uint32_t base = Address(info.AllocationBase);
    auto it = facts_.find(base);
    if (it != facts_.end()) return &it->second;
    TFacts f;
    uint8_t headers[4096];
    if (!decoder::SafeRead(base, headers, sizeof headers)) return nullptr;
    const TModuleBounds bounds = ReadModuleBounds(base, headers, sizeof headers);
    if (!bounds.valid) return nullptr;
    f.codeBegin = bounds.baseOfCode;
    f.codeEnd = bounds.topOfCode;
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(headers);
    if (dos->e_lfanew > 0 && static_cast<uint32_t>(dos->e_lfanew) + sizeof(IMAGE_NT_HEADERS32) <= sizeof headers) {
      const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(headers + dos->e_lfanew);
      const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
      IMAGE_EXPORT_DIRECTORY exports;
      if (dir.VirtualAddress != 0 && decoder::SafeRead(base + dir.VirtualAddress, &exports, sizeof exports) &&
          exports.NumberOfFunctions < 65536) {
        std::vector<uint32_t> rvas(exports.NumberOfFunctions);
        if (!rvas.empty() && decoder::SafeRead(base + exports.AddressOfFunctions, rvas.data(), rvas.size() * 4)) {
          // Named ones only.
          std::vector<uint16_t> ordinals(exports.NumberOfNames);
          if (!ordinals.empty() &&
              decoder::SafeRead(base + exports.AddressOfNameOrdinals, ordinals.data(), ordinals.size() * 2))
            for (uint16_t o : ordinals)
              if (o < rvas.size()) f.exports.push_back(base + rvas[o]);
        }
      }
    }
    std::sort(f.exports.begin(), f.exports.end());
    return &facts_.emplace(base, std::move(f)).first->second;
  }
  mutable std::unordered_map<uint32_t, TFacts> facts_;
};

// The tracer's process-wide state. Leaked: reports at exit still use it.
// Every field is used under `lock`.
struct TTracerState {
  std::recursive_mutex lock;
  TStackTracer tracer;
  // Facts of each loaded module, made when first asked.
  TModuleFacts moduleFacts;
  // Names and lines of code addresses, each made when first asked: code
  // does not move while its module stays loaded.
  std::unordered_map<uint32_t, TCodeLocation> names;
  // Whether the module at a base carries a map, asked once per process
  // (the map cache asks a module without one again each time).
  std::unordered_map<uint32_t, bool> hasMap;
};
TTracerState& State() {
  static auto* state = new TTracerState;
  return *state;
}

class TOwnProcess final : public IStackEnvironment {
 public:
  TOwnProcess()
      : regions_(decoder::TakeReadableRegions()), reader_(&regions_), memory_(&reader_) {}
  // A stack copy seen at its own addresses over the process.
  void SetStackCopy(uint32_t at, std::vector<uint8_t> bytes) {
    copy_ = std::make_unique<StackCopyReader>(reader_, at, std::move(bytes));
    memory_ = copy_.get();
  }

  const decoder::MemoryReader& Memory() const override { return *memory_; }
  // Asked only under the tracer's lock.
  const parser::CodeEnvironment& Code() const override { return State().moduleFacts; }
  bool Region(uint32_t address, uint32_t* allocationBase, bool* committed) const override {
    MEMORY_BASIC_INFORMATION info;
    if (VirtualQuery(reinterpret_cast<const void*>(static_cast<uintptr_t>(address)), &info, sizeof info) !=
        sizeof info)
      return false;
    *allocationBase = Address(info.AllocationBase);
    *committed = info.State == MEM_COMMIT;
    return true;
  }
  bool Module(uint32_t base, TModuleEntry* out) const override {
    char path[MAX_PATH];
    const DWORD n = GetModuleFileNameA(reinterpret_cast<HMODULE>(static_cast<uintptr_t>(base)), path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return false;
    uint8_t headers[4096];
    if (!memory_->Read(base, headers, sizeof headers)) return false;
    const TModuleBounds bounds = ReadModuleBounds(base, headers, sizeof headers);
    if (!bounds.valid) return false;
    const std::string name(path, n);
    const size_t slash = name.find_last_of("\\/");
    out->handle = base;
    out->name = slash == std::string::npos ? name : name.substr(slash + 1);
    out->codeBegin = bounds.baseOfCode;
    out->codeEnd = bounds.topOfCode;
    out->dataBegin = bounds.baseOfData;
    out->dataEnd = bounds.topOfData;
    out->hasMap = HasMap(base);
    return true;
  }
  bool MapPublic(uint32_t address, std::string* name, uint32_t* entry) const override {
    const TCodeLocation& loc = Describe(address);
    if (loc.entry == 0) return false;
    *name = loc.function;
    *entry = loc.entry;
    return true;
  }
  int MapLine(uint32_t address) const override { return Describe(address).line; }
  std::string MapUnit(uint32_t address) const override { return Describe(address).unit; }
  bool ExportBelow(uint32_t address, std::string* name, uint32_t* entry) const override {
    return MapPublic(address, name, entry);
  }
  parser::TRuntimeRoutines Routines(uint32_t) const override { return {}; }
  uint32_t MainModule() const override { return Address(GetModuleHandleA(nullptr)); }
  uint32_t OwnModule() const override { return Address(ThisModule()); }

 private:
  // Names and lines of an address: the module's map, else its symbol
  // tables (export directory, COFF symbols). Asked once per trace.
  // The answers are kept for the process (asked under the tracer's lock
  // only).
  const TCodeLocation& Describe(uint32_t address) const {
    auto& names = State().names;
    auto it = names.find(address);
    if (it != names.end()) return it->second;
    uint32_t base = 0;
    bool committed = false;
    const bool mapped = Region(address, &base, &committed) && HasMap(base);
    return names.emplace(address, mapped ? DescribeCodeAddress(address) : DescribeFromModuleSymbols(address))
        .first->second;
  }
  // Whether the module at base carries a map (asked under the tracer's
  // lock only).
  static bool HasMap(uint32_t base) {
    auto& known = State().hasMap;
    auto it = known.find(base);
    if (it != known.end()) return it->second;
    uint8_t headers[4096];
    bool mapped = false;
    if (decoder::SafeRead(base, headers, sizeof headers)) {
      const TModuleBounds bounds = ReadModuleBounds(base, headers, sizeof headers);
      const std::shared_ptr<const TMapFile> map =
          bounds.valid ? MapFileForAddress(bounds.baseOfCode + 1) : std::shared_ptr<const TMapFile>();
      mapped = map && map->Valid && !map->Publics().empty();
    }
    return known.emplace(base, mapped).first->second;
  }

  decoder::TDATryRead regions_;
  decoder::ProcessReader reader_;
  std::unique_ptr<StackCopyReader> copy_;
  const decoder::MemoryReader* memory_;
};

TTraceResult Trace(TOwnProcess& process, const TTraceInput& input) {
  TTracerState& state = State();
  std::lock_guard<std::recursive_mutex> guard(state.lock);
  return state.tracer.TraceStack(process, input);
}

TTraceInput InputFor(const TThreadStackRequest& r) {
  TTraceInput in;
  in.hideUglyItems = r.hideUglyItems;
  in.showRelAddrs = r.showRelAddrs;
  in.showRelLines = r.showRelLines;
  in.creator = r.creator;
  in.abort = r.abort;
  return in;
}

void TakeResult(const TTraceResult& t, TThreadStackResult& out) {
  out.text = t.text.text;
  out.checksum1 = t.text.checksum1;
  out.checksum2 = t.text.checksum2;
  out.hasLines = t.text.hasLines;
  out.functionEntry = t.text.functionEntry;
  out.codeAddress = t.text.codeAddress;
  out.programCode = t.programCode;
}

}  // namespace

TTraceResult TraceOwnStack(const TTraceInput& input) {
  TOwnProcess process;
  return Trace(process, input);
}

__attribute__((noinline)) TTraceResult TraceCurrentThread(bool hideUglyItems, bool showRelAddrs, bool showRelLines) {
  TTraceInput in;
  in.hideUglyItems = hideUglyItems;
  in.showRelAddrs = showRelAddrs;
  in.showRelLines = showRelLines;
  const auto* frame = static_cast<const uint32_t*>(__builtin_frame_address(0));
  in.bottom = Address(frame) + 8;
  in.top = RegionEnd(in.bottom);
  in.framePointer = frame[0];
  in.currentAddress = Address(__builtin_return_address(0));
  TOwnProcess process;
  return Trace(process, in);
}

bool TraceThreadForReport(const TThreadStackRequest& r, TThreadStackResult& out) {
  TTraceInput in = InputFor(r);
  TOwnProcess process;
  std::vector<TPreStackItem> snapshot;
  // The caches behind the environment are shared: everything after a held
  // thread's copy runs under the tracer's lock (never while a thread is held:
  // a process trace holds the library's threads too).
  std::unique_lock<std::recursive_mutex> guard(State().lock, std::defer_lock);
  if (r.captured) {
    guard.lock();
    // The crashed thread: the stack as it was at the exception, where the
    // unwinding may since have overwritten it.
    const TCapturedStack& cs = *r.captured;
    const bool copied = cs.wordCount > 0 && cs.esp != 0;
    in.bottom = copied ? cs.esp : r.esp;
    in.framePointer = copied ? cs.ebp : r.ebp;
    in.top = cs.stackTop ? cs.stackTop : RegionEnd(in.bottom);
    if (copied) {
      // Between the capture's end and where the thread now waits, the
      // handling's own calls overwrote the stack: read as zeros, so that
      // no stale frame of the handling enters the trace.
      const uint32_t end = cs.esp + cs.wordCount * 4u;
      const uint32_t stale = r.handlingStackPointer > end && r.handlingStackPointer - cs.esp <= kMaxStaleCopy
                                 ? r.handlingStackPointer - end
                                 : 0;
      std::vector<uint8_t> bytes(cs.wordCount * 4u + stale);
      std::memcpy(bytes.data(), cs.words, cs.wordCount * 4u);
      process.SetStackCopy(cs.esp, std::move(bytes));
    }
    in.currentAddress = r.address;
    in.isException = r.exception;
    in.isExternal = r.external;
    snapshot = TStackTracer::PrepareStackSnapshot(process.Memory(), in.framePointer, in.top, in.bottom,
                                                  in.isException, in.currentAddress);
    // The return addresses the capture found (the frame chain, a call to
    // nowhere's caller at the stack pointer) are real: their newest
    // records are anchored.
    for (int k = 1; k < cs.frameCount; ++k)
      for (size_t i = snapshot.size(); i-- > 0;)
        if (snapshot[i].address == cs.frames[k]) {
          snapshot[i].frameChain = 1;
          break;
        }
    in.snapshot = &snapshot;
    out.currentAddress = r.address;
  } else if (r.ownThread) {
    const TTraceResult t = TraceCurrentThread(r.hideUglyItems, r.showRelAddrs, r.showRelLines);
    TakeResult(t, out);
    out.currentAddress = t.crashAddress;
    return !t.text.text.empty();
  } else if (r.stackCopy) {
    // Another thread, as the report's snapshot holds it: its registers and
    // a copy of its stack from the stack pointer on.
    if (r.stackCopy->empty()) return false;
    guard.lock();
    process.SetStackCopy(r.esp, *r.stackCopy);
    in.bottom = r.esp;
    in.top = r.stackTop ? r.stackTop : r.esp + static_cast<uint32_t>(r.stackCopy->size());
    in.framePointer = r.ebp;
    in.currentAddress = r.address;
    out.currentAddress = r.address;
  } else if (r.esp != 0) {
    guard.lock();
    // A location given without a capture (the crashed thread's registers).
    in.bottom = r.esp;
    in.framePointer = r.ebp;
    in.top = RegionEnd(r.esp);
    in.currentAddress = r.address;
    in.isException = r.exception;
    in.isExternal = r.external;
    out.currentAddress = r.address;
  } else {
    return false;
  }
  const TTraceResult t = Trace(process, in);
  TakeResult(t, out);
  return !t.text.text.empty();
}

void ClearStackTables() {
  TTracerState& state = State();
  std::lock_guard<std::recursive_mutex> guard(state.lock);
  state.tracer.Clear();
}

}  // namespace kestrix::stack
