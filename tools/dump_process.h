// A minidump's process as the stack tracer sees it: the dump's captured
// memory first, then the modules' images read from their files (a stack-only
// dump holds no code), and the names and lines of the modules' maps.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "crash/dump/minidump_reader.h"
#include "debuginfo/map/map_file.h"
#include "debuginfo/stack/stack_tracer.h"
#include "tools/pe_image.h"

namespace kestrix::tools {

class TDumpProcess final : public stack::IStackEnvironment,
                           public decoder::MemoryReader,
                           public parser::CodeEnvironment {
 public:
  explicit TDumpProcess(const TMinidump& dump) : dump_(dump) {}
  // The file image of the module loaded at base (the dump's module list).
  void AddImage(uint32_t base, TPeImage image);
  // The map of the module loaded at base.
  void AddMap(uint32_t base, std::shared_ptr<const TMapFile> map);
  bool HasImage(uint32_t base) const { return modules_.count(base) && modules_.at(base).image.imageBase; }

  // MemoryReader
  uint32_t Fetch(uint32_t address, uint8_t* scratch, uint32_t max, const uint8_t** out) const override;
  // CodeEnvironment
  bool IsCommitted(uint32_t address) const override;
  bool CodeRange(uint32_t address, uint32_t* begin, uint32_t* end) const override;
  bool IsNamedExport(uint32_t address) const override;
  std::string SystemErrorText(uint32_t) const override { return std::string(); }
  // IStackEnvironment
  const decoder::MemoryReader& Memory() const override { return *this; }
  const parser::CodeEnvironment& Code() const override { return *this; }
  bool Region(uint32_t address, uint32_t* allocationBase, bool* committed) const override;
  bool Module(uint32_t base, stack::TModuleEntry* out) const override;
  bool MapPublic(uint32_t address, std::string* name, uint32_t* entry) const override;
  int MapLine(uint32_t address) const override;
  std::string MapUnit(uint32_t address) const override;
  bool ExportBelow(uint32_t address, std::string* name, uint32_t* entry) const override;
  parser::TRuntimeRoutines Routines(uint32_t) const override { return {}; }
  uint32_t MainModule() const override;
  uint32_t OwnModule() const override { return 0; }

 private:
  struct TModuleFiles {
    TPeImage image;  // imageBase 0: no file
    TModuleBounds bounds;
    std::vector<uint32_t> exports;  // absolute, sorted
    std::shared_ptr<const TMapFile> map;
  };
  // The module of the dump's list holding address, and its files.
  const TSnapshotModule* ModuleAt(uint32_t address) const { return FindSnapshotModule(dump_, address); }
  const TModuleFiles* FilesAt(uint32_t address) const;
  const TMapFile* MapAt(uint32_t address) const;

  const TMinidump& dump_;
  std::map<uint32_t, TModuleFiles> modules_;
};

}  // namespace kestrix::tools
