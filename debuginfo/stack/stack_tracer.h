// The stack tracer (kxStackTrace): turns the raw stack of a thread into its
// call chain. Every plausible return address on the stack becomes a
// candidate; the machine code before it must be a call, and the call must
// lead to the function in which the next newer candidate lies. Candidates
// are linked into caller/callee chains, the chains are scored, the best one
// between the known-real (anchored) entries is kept, repeated recursion
// blocks are collapsed, and the rest becomes the call-stack text.
//
// The tracer reads memory and asks about modules only through
// IStackEnvironment, so that it runs on any address space: the own process
// on Windows (win/), hand-made code and stacks in the tests.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "crash/report/call_stack_text.h"
#include "debuginfo/decoder/memory_reader.h"
#include "debuginfo/parser/function_parser.h"

namespace kestrix::stack {

// One module seen (ModuleTable).
struct TModuleEntry {
  uint32_t handle = 0;  // load address
  std::string name;     // file name without path
  uint32_t codeBegin = 0, codeEnd = 0;  // absolute; a value v is inside when begin < v <= end
  uint32_t dataBegin = 0, dataEnd = 0;
  bool hasMap = false;
};

// One parsed function (FunctionTable); the entry address is the key.
struct TFunctionEntry {
  int module = -1;
  std::string name;
  parser::TFunctionInfo info;
  uint8_t approved = 0;
  uint8_t invalid = 0;
};

struct TStackLink {
  int otherItem = -1;
  uint32_t codeAddr = 0;
  uint8_t hasTarget = 0;
  uint32_t target = 0;
  int functionIndex = -1;
  uint16_t reserved = 0;
  int64_t score = 0;  // 0: not yet evaluated
};

struct TStackLinks {
  std::vector<TStackLink> links;
  int best = -1;
};

// A candidate of one trace (TInternalStackItem); index 0 is the oldest.
struct TInternalStackItem {
  uint32_t address = 0;
  uint8_t anchored = 0;
  uint8_t isTop = 0;
  int module = -1;
  TStackLinks calleeLinks;  // newer entries reached by the call before this return address
  TStackLinks callerLinks;  // the function holding this address, and the older entry that called it
  uint8_t removed = 0;
  uint32_t finalAddr = 0;
  std::string moduleName, unitName;
  int32_t line = 0;
  std::string functionName;
  uint32_t functionEntry = 0;
  int32_t absLine = 0;
};

// One record of a stack snapshot (TDAPreStackItem): a value that looked
// like a return address when the exception happened.
struct TPreStackItem {
  uint8_t frameChain = 0;  // the slot belongs to the frame-pointer chain
  uint32_t address = 0;
};

// One printed call level for the exception dialog (TStackItem).
struct TStackItem {
  uint32_t address = 0;
  uint32_t relAddr = 0;
  std::string module, unit;
  int32_t line = 0;     // the absolute line when relative lines are shown, else 0
  int32_t relLine = 0;  // the relative line, or the plain line when relative lines are off
  std::string function;
};
using TStackTrace = std::vector<TStackItem>;

// What the tracer asks of the address space whose stacks it reads.
class IStackEnvironment {
 public:
  virtual ~IStackEnvironment() = default;
  // Every read of a trace goes through this reader (guarded, never faults).
  virtual const decoder::MemoryReader& Memory() const = 0;
  virtual const parser::CodeEnvironment& Code() const = 0;
  // The memory region holding address: committed and its allocation base.
  virtual bool Region(uint32_t address, uint32_t* allocationBase, bool* committed) const = 0;
  // The module loaded at base; false when its name or headers cannot be had.
  virtual bool Module(uint32_t base, TModuleEntry* out) const = 0;
  // The map's public covering address (name and entry); false without a map there.
  virtual bool MapPublic(uint32_t address, std::string* name, uint32_t* entry) const = 0;
  virtual int MapLine(uint32_t address) const = 0;  // 0 when none
  virtual std::string MapUnit(uint32_t address) const = 0;
  // The nearest export at or below address, or the module's entry point when
  // closer; false when the module has neither.
  virtual bool ExportBelow(uint32_t address, std::string* name, uint32_t* entry) const = 0;
  virtual parser::TRuntimeRoutines Routines(uint32_t address) const = 0;
  virtual uint32_t MainModule() const = 0;
  virtual uint32_t OwnModule() const = 0;
  // The return address the runtime's try/finally exit helper leaves on the
  // stack while a finally block runs; 0 when the runtime has none.
  virtual uint32_t FinallyExitReturn() const { return 0; }
};

struct TTraceInput {
  bool hideUglyItems = false;
  bool showRelAddrs = true;
  bool showRelLines = true;
  uint32_t currentAddress = 0;
  bool isException = false;
  bool isExternal = false;  // a processor or system exception
  uint32_t bottom = 0, top = 0;  // the stack range [bottom, top)
  uint32_t framePointer = 0;     // 0: no frame chain
  uint32_t creator = 0;          // the code that created the thread, shown as the lowest line
  const std::vector<TPreStackItem>* snapshot = nullptr;  // replaces the stack scan
  bool rawTrace = false;    // skips the link-chain optimisation
  bool noTopEntry = false;  // the current address is not added as the top entry
  std::function<void(int)> progress;  // 0 ... 1000
  const std::atomic<bool>* abort = nullptr;
};

struct TTraceResult {
  TCallStackText text;  // text, checksums, line flag, function entry and code address
  TStackTrace items;
  uint32_t crashAddress = 0;
  std::vector<std::string> minDebugKeys;  // not filled: the maps carry no fingerprint
  bool programCode = false;  // a printed entry lies in a module with a map
  std::vector<TInternalStackItem> entries;  // the final candidates, oldest first
};

// The tracer with its process-wide tables (modules and functions are looked
// at once per process). Not thread-safe: one trace at a time.
class TStackTracer {
 public:
  TTraceResult TraceStack(const IStackEnvironment& env, const TTraceInput& input);
  // The snapshot of a stack at the moment of an exception: every value that
  // looks like a return address, flagged when its slot is on the frame
  // chain. Empty when the stack range cannot be read.
  static std::vector<TPreStackItem> PrepareStackSnapshot(const decoder::MemoryReader& memory, uint32_t framePointer,
                                                         uint32_t top, uint32_t bottom, bool isException,
                                                         uint32_t currentAddress);
  // The call instructions that can end right before v.
  static bool IsAfterCall(const decoder::MemoryReader& memory, uint32_t v);
  void Clear();

  const std::vector<TModuleEntry>& ModuleTable() const { return modules_; }
  const std::vector<TFunctionEntry>& FunctionTable() const { return functions_; }

 private:
  class TTrace;
  std::vector<TModuleEntry> modules_;
  std::vector<TFunctionEntry> functions_;
  std::unordered_map<uint32_t, int> functionIndex_;
};

// The return-address slots of the frame chain from framePointer within
// (bottom, top), ascending.
std::vector<uint32_t> FrameChainSlots(const decoder::MemoryReader& memory, uint32_t framePointer, uint32_t bottom,
                                      uint32_t top);

}  // namespace kestrix::stack
