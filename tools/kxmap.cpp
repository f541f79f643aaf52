// kxmap: what the debug-information map of a program says about addresses.
//
//   kxmap FILE ADDRESS...   one line per address: address, module, unit,
//                           function, line (TAB-separated; line 0 unknown)
//   kxmap --dump FILE       the map's segments, publics and line table
//
// FILE is an executable (its embedded map, else the files beside it) or a
// ".kx" file; addresses are hexadecimal virtual addresses at the module's
// preferred image base.
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tools/program_map.h"

namespace {

using namespace kestrix;

bool Load(const std::string& path, TMapFile& map, std::string& module) {
  std::string error;
  if (tools::LoadProgramMap(path, map, module, error)) return true;
  std::fprintf(stderr, "kxmap: %s: %s\n", path.c_str(), error.c_str());
  return false;
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
