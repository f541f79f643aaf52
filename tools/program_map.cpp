#include "tools/program_map.h"

#include <sys/stat.h>

#include <cstring>
#include <fstream>
#include <iterator>

#include "debuginfo/map/compact_map.h"
#include "debuginfo/readers/module_map.h"

namespace kestrix::tools {
namespace {

// A module read from its file.
class TFileModule : public TModuleSource {
 public:
  explicit TFileModule(const std::string& bytes) : bytes_(bytes) {}
  TPeView Image() override { return {reinterpret_cast<const uint8_t*>(bytes_.data()), bytes_.size(), false}; }
  uint32_t Handle() override { return PeImageBase(Image()); }
  bool ReadWholeFile(const std::string& path, std::string& bytes) override { return ReadFile(path, bytes); }
  bool FileDay(const std::string& path, int64_t& day) override {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return false;
    day = static_cast<int64_t>(st.st_mtime) / 86400;
    return true;
  }

 private:
  const std::string& bytes_;
};

}  // namespace

bool ReadFile(const std::string& path, std::string& content) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  content.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

std::string BaseName(const std::string& path) {
  const size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool LoadProgramMap(const std::string& path, TMapFile& map, std::string& module, std::string& error) {
  std::string bytes;
  if (!ReadFile(path, bytes)) {
    error = "cannot read";
    return false;
  }
  module = BaseName(path);
  const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
  if (bytes.size() >= 14 && std::memcmp(data, kCompactMapSignature, 14) == 0) {
    // A ".kx" file: the bounds from the module beside it when there is one.
    std::string exeBytes;
    TModuleBounds bounds;
    for (const char* ext : {".exe", ".dll"}) {
      const std::string exe = ChangeFileExt(path, ext);
      if (ReadFile(exe, exeBytes)) {
        TFileModule pe(exeBytes);
        bounds = ReadModuleBounds(pe.Handle(), pe.Image().data, exeBytes.size());
        if (bounds.valid) {
          module = BaseName(exe);
          break;
        }
      }
    }
    if (!bounds.valid) bounds.baseOfCode = 0x401000;  // a mingw program's usual first section
    map.SetBounds(bounds);
    const TCompactMapResult r = LoadCompactMap(data, bytes.size(), map, error);
    map.Valid = r == TCompactMapResult::kLoaded;
    if (r == TCompactMapResult::kNotAMap) error = "not a compact map";
  } else {
    TFileModule pe(bytes);
    map = TMapFile(false, pe.Handle(), path);
    BuildModuleMap(map, pe, error);
  }
  if (!map.Valid) {
    error = "no debug-information map" + (error.empty() ? std::string() : ": " + error);
    return false;
  }
  return true;
}

}  // namespace kestrix::tools
