// kxmap: what the debug-information map of a program says about addresses.
//
//   kxmap FILE ADDRESS...   one line per address: address, module, unit,
//                           function, line (TAB-separated; line 0 unknown)
//   kxmap --dump FILE       the map's segments, publics and line table
//
// FILE is an executable (its embedded map, else the files beside it) or a
// ".kx" file; addresses are hexadecimal virtual addresses at the module's
// preferred image base.
#include <sys/stat.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "debuginfo/map/compact_map.h"
#include "debuginfo/readers/module_map.h"

namespace {

using namespace kestrix;

bool ReadFile(const std::string& path, std::string& content) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  content.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

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

std::string BaseName(const std::string& path) {
  const size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool Load(const std::string& path, TMapFile& map, std::string& module) {
  std::string bytes, error;
  if (!ReadFile(path, bytes)) {
    std::fprintf(stderr, "kxmap: %s: cannot read\n", path.c_str());
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
        bounds = ReadModuleBounds(pe.Handle(), data ? pe.Image().data : nullptr, exeBytes.size());
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
    std::fprintf(stderr, "kxmap: %s: no debug-information map%s%s\n", path.c_str(), error.empty() ? "" : ": ",
                 error.c_str());
    return false;
  }
  return true;
}

void Dump(const TMapFile& map) {
  std::printf("segments %zu\n", map.Segments().size());
  for (const TMfSegment& s : map.Segments())
    std::printf("%08" PRIx32 " %08" PRIx32 " %s %s%s\n", s.StartAddr, s.Length, s.IsCode ? "code" : "data",
                s.UnitName.c_str(), s.HasLines ? " (lines)" : "");
  std::printf("publics %zu\n", map.Publics().size());
  for (const TMfPublic& p : map.Publics()) std::printf("%08" PRIx32 " %s\n", p.Address, p.Name.c_str());
  std::printf("lines %zu\n", map.Lines().size());
  for (const TMfLine& l : map.Lines()) std::printf("%08" PRIx32 " %" PRId32 "\n", l.Address, l.Line);
  if (map.EntryPoint) std::printf("entry point %08" PRIx32 "\n", map.EntryPoint);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--dump") == 0) {
    TMapFile map;
    std::string module;
    if (!Load(argv[2], map, module)) return 1;
    Dump(map);
    return 0;
  }
  if (argc < 3) {
    std::fprintf(stderr, "usage: kxmap FILE ADDRESS...\n       kxmap --dump FILE\n");
    return 2;
  }
  TMapFile map;
  std::string module;
  if (!Load(argv[1], map, module)) return 1;
  int status = 0;
  for (int i = 2; i < argc; ++i) {
    char* end = nullptr;
    const unsigned long long value = std::strtoull(argv[i], &end, 16);
    if (!*argv[i] || *end || value > 0xffffffffull) {
      std::fprintf(stderr, "kxmap: %s: not a hexadecimal address\n", argv[i]);
      status = 2;
      continue;
    }
    const auto address = static_cast<uint32_t>(value);
    const TMfSegment* segment = map.FindSegment(true, address);
    const TMfPublic* pub = segment ? map.FindPublic(address) : nullptr;
    uint32_t next = 0;
    int32_t line = segment ? map.LineAt(address, next) : 0;
    if (line < 0) line = 0;
    std::printf("%08" PRIx32 "\t%s\t%s\t%s\t%" PRId32 "\n", address, module.c_str(),
                segment ? segment->UnitName.c_str() : "", pub ? pub->Name.c_str() : "", line);
  }
  return status;
}
