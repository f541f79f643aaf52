// The map of one module from the first debug-information source it offers:
// the compact map in its resources (a stripped one completed by the ".kx"
// file beside it when the fingerprints agree), TD32 information, then the
// files beside it (".map", ".kx", ".jdbg"). Portable: the module's bytes and
// files come through TModuleSource, from a loaded image or from a file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "debuginfo/map/map_file.h"
#include "debuginfo/map/pe_resources.h"

namespace kestrix {

class TModuleSource {
 public:
  virtual ~TModuleSource() = default;
  // The module: a loaded image, or the file's bytes.
  virtual TPeView Image() = 0;
  // The address the module is loaded at (a file: its preferred base).
  virtual uint32_t Handle() = 0;
  // A whole file; false when it cannot be read.
  virtual bool ReadWholeFile(const std::string& path, std::string& bytes) = 0;
  // Up to `count` bytes of a file from `offset` (fewer at its end, none
  // beyond it); false when it cannot be read. By default from ReadWholeFile.
  virtual bool ReadFilePart(const std::string& path, uint64_t offset, size_t count, std::string& bytes);
  // The file's last-write time in days; false when it does not exist.
  virtual bool FileDay(const std::string& path, int64_t& day) = 0;
};

// `path` with its extension replaced by `extension` (".kx").
std::string ChangeFileExt(const std::string& path, const std::string& extension);

// Fills `map` (constructed with the module's file names and CodeOnly) and
// sets Valid when a source succeeded. `error` tells why a source that was
// found could not be read.
void BuildModuleMap(TMapFile& map, TModuleSource& source, std::string& error);

}  // namespace kestrix
