// A small address space for the tracer's tests: one module ("prog.exe")
// whose code is built with CodeBuilder and whose map names the functions
// and lines, a stack region built word by word, and nothing else.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "debuginfo/stack/stack_tracer.h"
#include "tests/debuginfo/parser/code_builder.h"

namespace kestrix::stack::testing {

constexpr uint32_t kModuleBase = 0x00400000;
constexpr uint32_t kCodeBase = 0x00401000;
constexpr uint32_t kStackBase = 0x10000000;  // allocation base of the stack region

class FakeProcess final : public IStackEnvironment, public decoder::MemoryReader, public parser::CodeEnvironment {
 public:
  FakeProcess(std::vector<uint8_t> code, std::vector<uint32_t> stackWords)
      : code_(std::move(code)), stack_(stackWords.size() * 4) {
    for (size_t i = 0; i < stackWords.size(); ++i)
      for (int b = 0; b < 4; ++b) stack_[i * 4 + b] = static_cast<uint8_t>(stackWords[i] >> (8 * b));
  }
  // A function of the map: entry, name, first line, and the lines of its
  // instructions (address -> line) beside it.
  void AddPublic(uint32_t entry, const std::string& name) { publics_[entry] = name; }
  void AddLine(uint32_t address, int line) { lines_[address] = line; }
  bool withMap = true;

  uint32_t StackAddress(size_t word) const { return kStackBase + static_cast<uint32_t>(word * 4); }
  uint32_t StackEnd() const { return kStackBase + static_cast<uint32_t>(stack_.size()); }
  uint32_t CodeEnd() const { return kCodeBase + static_cast<uint32_t>(code_.size()); }

  // MemoryReader
  uint32_t Fetch(uint32_t address, uint8_t*, uint32_t max, const uint8_t** out) const override {
    const std::vector<uint8_t>* block = nullptr;
    uint32_t offset = 0;
    if (address - kCodeBase < code_.size()) {
      block = &code_;
      offset = address - kCodeBase;
    } else if (address - kStackBase < stack_.size()) {
      block = &stack_;
      offset = address - kStackBase;
    } else {
      return 0;
    }
    *out = block->data() + offset;
    const uint32_t left = static_cast<uint32_t>(block->size()) - offset;
    return left < max ? left : max;
  }

  // CodeEnvironment
  bool IsCommitted(uint32_t a) const override { return a - kCodeBase < code_.size() || a - kStackBase < stack_.size(); }
  bool CodeRange(uint32_t, uint32_t* b, uint32_t* e) const override {
    *b = kCodeBase;
    *e = CodeEnd();
    return true;
  }
  bool IsNamedExport(uint32_t) const override { return false; }
  std::string SystemErrorText(uint32_t) const override { return std::string(); }

  // IStackEnvironment
  const decoder::MemoryReader& Memory() const override { return *this; }
  const parser::CodeEnvironment& Code() const override { return *this; }
  bool Region(uint32_t address, uint32_t* allocationBase, bool* committed) const override {
    if (address - kCodeBase < code_.size()) {
      *allocationBase = kModuleBase;
    } else if (address - kStackBase < stack_.size()) {
      *allocationBase = kStackBase;
    } else {
      return false;
    }
    *committed = true;
    return true;
  }
  bool Module(uint32_t base, TModuleEntry* out) const override {
    if (base != kModuleBase) return false;
    out->handle = kModuleBase;
    out->name = "prog.exe";
    out->codeBegin = kCodeBase - 1;
    out->codeEnd = CodeEnd();
    out->hasMap = withMap;
    ++moduleQueries;
    return true;
  }
  bool MapPublic(uint32_t address, std::string* name, uint32_t* entry) const override {
    if (!withMap || address - kCodeBase >= code_.size()) return false;
    auto it = publics_.upper_bound(address);
    if (it == publics_.begin()) return false;
    --it;
    *name = it->second;
    *entry = it->first;
    return true;
  }
  int MapLine(uint32_t address) const override {
    if (!withMap) return 0;
    auto it = lines_.upper_bound(address);
    if (it == lines_.begin()) return 0;
    return std::prev(it)->second;
  }
  std::string MapUnit(uint32_t address) const override { return MapLine(address) ? "prog" : ""; }
  bool ExportBelow(uint32_t address, std::string* name, uint32_t* entry) const override {
    // Without a map the module still exports its functions.
    auto it = publics_.upper_bound(address);
    if (it == publics_.begin()) return false;
    --it;
    *name = it->second;
    *entry = it->first;
    return true;
  }
  parser::TRuntimeRoutines Routines(uint32_t) const override { return {}; }
  uint32_t MainModule() const override { return mainModule; }
  uint32_t OwnModule() const override { return 0x7f000000; }
  uint32_t FinallyExitReturn() const override { return finallyReturn; }

  uint32_t mainModule = kModuleBase;
  uint32_t finallyReturn = 0;
  mutable int moduleQueries = 0;

 private:
  std::vector<uint8_t> code_;
  std::vector<uint8_t> stack_;
  std::map<uint32_t, std::string> publics_;
  std::map<uint32_t, int> lines_;
};

}  // namespace kestrix::stack::testing
