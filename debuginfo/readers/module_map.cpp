#include "debuginfo/readers/module_map.h"

#include "debuginfo/map/compact_map.h"
#include "debuginfo/readers/jdbg_reader.h"
#include "debuginfo/readers/td32_reader.h"
#include "debuginfo/readers/text_map_reader.h"

namespace kestrix {

namespace {

// A map that cannot be read leaves no half-filled tables for the next source.
bool LoadCompact(const uint8_t* data, size_t size, TMapFile& map, std::string& error) {
  std::string why;
  TMapFile trial = map;
  const TCompactMapResult r = LoadCompactMap(data, size, trial, why);
  if (r == TCompactMapResult::kInvalid && error.empty()) error = why;
  if (r != TCompactMapResult::kLoaded) return false;
  map = std::move(trial);
  return true;
}

// A stripped map in the resources: the full map from the ".kx" file when
// its fingerprint is the one the settings record expects.
bool LoadFromResource(TMapFile& map, TModuleSource& source, const uint8_t* data, size_t size, std::string& error) {
  TCompactMapHeader header;
  if (!ReadCompactMapHeader(data, size, header)) return false;
  if (header.flags & kCompactMapStripped) {
    const uint8_t* record;
    size_t recordSize;
    if (FindPeResource(source.Image(), "#10", "TKESTRIX", record, recordSize))
      map.MinDebugInfo = FindMinDebugInfo(record, recordSize);
    std::string full;
    if (!map.MinDebugInfo.empty() && source.ReadWholeFile(ChangeFileExt(map.MapFileName, ".kx"), full)) {
      const auto* bytes = reinterpret_cast<const uint8_t*>(full.data());
      TCompactMapHeader fullHeader;
      if (CompactMapFingerprint(bytes, full.size()) == map.MinDebugInfo &&
          ReadCompactMapHeader(bytes, full.size(), fullHeader) && !(fullHeader.flags & kCompactMapStripped)) {
        TMapFile trial(map.CodeOnly, map.ModuleHandle, map.ModuleFileName);
        trial.MapFileName = map.MapFileName;
        trial.SetBounds(ReadModuleBounds(map.ModuleHandle, source.Image().data, source.Image().size));
        if (LoadCompact(bytes, full.size(), trial, error)) {
          map = std::move(trial);
          return true;
        }
      }
    }
  }
  return LoadCompact(data, size, map, error);
}

bool TryFiles(TMapFile& map, TModuleSource& source, std::string& error) {
  std::string bytes;
  if (source.ReadWholeFile(ChangeFileExt(map.MapFileName, ".map"), bytes)) {
    ParseTextMap(bytes, map);
    return true;
  }
  if (source.ReadWholeFile(ChangeFileExt(map.MapFileName, ".kx"), bytes) &&
      LoadCompact(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), map, error))
    return true;
  if (source.ReadWholeFile(ChangeFileExt(map.MapFileName, ".jdbg"), bytes)) {
    std::string why;
    if (ReadJdbgData(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), map, why)) return true;
    if (error.empty()) error = why;
  }
  return false;
}

}  // namespace

bool TModuleSource::ReadFilePart(const std::string& path, uint64_t offset, size_t count, std::string& bytes) {
  if (!ReadWholeFile(path, bytes)) return false;
  if (offset >= bytes.size()) {
    bytes.clear();
  } else {
    bytes.erase(0, static_cast<size_t>(offset));
    if (count < bytes.size()) bytes.resize(count);
  }
  return true;
}

std::string ChangeFileExt(const std::string& path, const std::string& extension) {
  const size_t slash = path.find_last_of("\\/");
  const size_t dot = path.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return path + extension;
  return path.substr(0, dot) + extension;
}

void BuildModuleMap(TMapFile& map, TModuleSource& source, std::string& error) {
  const TPeView image = source.Image();
  const TModuleBounds bounds = map.ModuleHandle ? ReadModuleBounds(map.ModuleHandle, image.data, image.size)
                                                : TModuleBounds{};
  bool ok = false;
  if (bounds.valid) {
    map.SetBounds(bounds);
    const uint8_t* data;
    size_t size;
    ok = FindPeResource(image, "KX", "EXCEPT", data, size) && LoadFromResource(map, source, data, size, error);
  }
  if (!ok) {
    map.MinDebugInfo.clear();  // no stripped map was loaded
    std::string why;
    ok = ParseTd32Info(map, source, bounds.valid, why);
    if (!ok && error.empty()) error = why;
  }
  if (!ok) ok = TryFiles(map, source, error);
  map.Valid = ok;
  if (ok && !map.Lines().empty()) map.SortLineTable();
}

}  // namespace kestrix
