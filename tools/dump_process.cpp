#include "tools/dump_process.h"

#include <algorithm>

#include "tools/program_map.h"

namespace kestrix::tools {

void TDumpProcess::AddImage(uint32_t base, TPeImage image) {
  TModuleFiles& m = modules_[base];
  m.bounds = ReadModuleBounds(base, image.image.data(), image.image.size());
  m.exports.clear();
  for (const auto& [rva, name] : image.exports) m.exports.push_back(base + rva);
  std::sort(m.exports.begin(), m.exports.end());
  m.image = std::move(image);
}

void TDumpProcess::AddMap(uint32_t base, std::shared_ptr<const TMapFile> map) { modules_[base].map = std::move(map); }

const TDumpProcess::TModuleFiles* TDumpProcess::FilesAt(uint32_t address) const {
  const TSnapshotModule* m = ModuleAt(address);
  if (!m) return nullptr;
  auto it = modules_.find(m->base);
  return it == modules_.end() ? nullptr : &it->second;
}

const TMapFile* TDumpProcess::MapAt(uint32_t address) const {
  const TModuleFiles* f = FilesAt(address);
  return f && f->map && f->map->Valid ? f->map.get() : nullptr;
}

uint32_t TDumpProcess::Fetch(uint32_t address, uint8_t*, uint32_t max, const uint8_t** out) const {
  if (const uint32_t n = dump_.Readable(address, max, out)) return n;
  const TSnapshotModule* m = ModuleAt(address);
  const TModuleFiles* f = FilesAt(address);
  if (!m || !f || !f->image.imageBase) return 0;
  const uint32_t rva = address - m->base;
  if (rva >= f->image.image.size()) return 0;
  *out = f->image.image.data() + rva;
  return std::min<uint32_t>(max, static_cast<uint32_t>(f->image.image.size()) - rva);
}

bool TDumpProcess::IsCommitted(uint32_t address) const {
  const uint8_t* p = nullptr;
  return Fetch(address, nullptr, 1, &p) == 1;
}

bool TDumpProcess::CodeRange(uint32_t address, uint32_t* begin, uint32_t* end) const {
  const TModuleFiles* f = FilesAt(address);
  if (!f || !f->bounds.valid) return false;
  *begin = f->bounds.baseOfCode;
  *end = f->bounds.topOfCode;
  return true;
}

bool TDumpProcess::IsNamedExport(uint32_t address) const {
  const TModuleFiles* f = FilesAt(address);
  return f && std::binary_search(f->exports.begin(), f->exports.end(), address);
}

bool TDumpProcess::Region(uint32_t address, uint32_t* allocationBase, bool* committed) const {
  if (const TSnapshotModule* m = ModuleAt(address)) {
    *allocationBase = m->base;
    *committed = IsCommitted(address);
    return true;
  }
  for (const TSnapshotThread& t : dump_.Threads())
    if (address >= t.stackLimit && address < t.stackBase) {
      *allocationBase = t.stackLimit;
      *committed = true;
      return true;
    }
  return false;
}

bool TDumpProcess::Module(uint32_t base, stack::TModuleEntry* out) const {
  const TSnapshotModule* m = ModuleAt(base);
  if (!m || m->base != base) return false;
  const TModuleFiles* f = FilesAt(base);
  out->handle = base;
  out->name = BaseName(m->path);
  if (f && f->bounds.valid) {
    out->codeBegin = f->bounds.baseOfCode;
    out->codeEnd = f->bounds.topOfCode;
    out->dataBegin = f->bounds.baseOfData;
    out->dataEnd = f->bounds.topOfData;
  } else {
    out->codeBegin = base;
    out->codeEnd = base + m->size;
  }
  out->hasMap = MapAt(base) != nullptr;
  return true;
}

bool TDumpProcess::MapPublic(uint32_t address, std::string* name, uint32_t* entry) const {
  const TMapFile* map = MapAt(address);
  const TMfPublic* pub = map ? map->FindPublic(address) : nullptr;
  if (!pub) return false;
  *name = IsGeneratedName(pub->Name) ? std::string() : pub->Name;
  *entry = pub->Address;
  return true;
}

int TDumpProcess::MapLine(uint32_t address) const {
  const TMapFile* map = MapAt(address);
  if (!map) return 0;
  uint32_t next = 0;
  const int32_t line = map->LineAt(address, next);
  return line > 0 ? line : 0;
}

std::string TDumpProcess::MapUnit(uint32_t address) const {
  const TMapFile* map = MapAt(address);
  const TMfSegment* segment = map ? map->FindSegment(true, address) : nullptr;
  return segment && !IsGeneratedName(segment->UnitName) ? segment->UnitName : std::string();
}

bool TDumpProcess::ExportBelow(uint32_t address, std::string* name, uint32_t* entry) const {
  const TSnapshotModule* m = ModuleAt(address);
  const TModuleFiles* f = FilesAt(address);
  if (!m || !f) return false;
  const std::pair<uint32_t, std::string>* best = nullptr;
  for (const auto& e : f->image.exports)
    if (m->base + e.first <= address && (!best || e.first > best->first)) best = &e;
  if (!best) return false;
  *name = best->second;
  *entry = m->base + best->first;
  return true;
}

uint32_t TDumpProcess::MainModule() const {
  // The executable: the first module that is not a library.
  for (const TSnapshotModule& m : dump_.Modules()) {
    const std::string name = BaseName(m.path);
    if (name.size() > 4 && (name.compare(name.size() - 4, 4, ".exe") == 0 || name.compare(name.size() - 4, 4, ".EXE") == 0))
      return m.base;
  }
  return dump_.Modules().empty() ? 0 : dump_.Modules().front().base;
}

}  // namespace kestrix::tools
