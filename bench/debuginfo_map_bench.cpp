// The debug-information map: time to build a program's map from its file
// (the embedded compact map: find, decipher, inflate, tables) and time of
// one address lookup (unit, public, line) on the loaded map. Portable.
//
//   debuginfo_map_bench PROGRAM.exe [ROUNDS]     (under Wine, or natively)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "debuginfo/readers/module_map.h"

namespace {

using Clock = std::chrono::steady_clock;

class TFileModule : public kestrix::TModuleSource {
 public:
  explicit TFileModule(const std::string& bytes) : bytes_(bytes) {}
  kestrix::TPeView Image() override { return {reinterpret_cast<const uint8_t*>(bytes_.data()), bytes_.size(), false}; }
  uint32_t Handle() override { return kestrix::PeImageBase(Image()); }
  bool ReadWholeFile(const std::string&, std::string&) override { return false; }
  bool FileDay(const std::string&, int64_t&) override { return false; }

 private:
  const std::string& bytes_;
};

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 21;
  std::ifstream in(argv[1], std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  TFileModule source(bytes);
  std::vector<double> loads;
  kestrix::TMapFile map;
  for (int r = 0; r < rounds; ++r) {
    const auto t0 = Clock::now();
    kestrix::TMapFile m(false, source.Handle(), argv[1]);
    std::string error;
    kestrix::BuildModuleMap(m, source, error);
    loads.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
    if (!m.Valid) {
      std::fprintf(stderr, "no map: %s\n", error.c_str());
      return 1;
    }
    map = std::move(m);
  }
  // Addresses spread over the code.
  std::vector<uint32_t> addresses;
  uint32_t x = 12345;
  for (int i = 0; i < 100000; ++i) {
    x = x * 1103515245u + 12345u;
    addresses.push_back(map.BaseOfCode + x % (map.TopOfCode - map.BaseOfCode));
  }
  std::vector<double> lookups;
  size_t found = 0;
  for (int r = 0; r < rounds; ++r) {
    const auto t0 = Clock::now();
    for (uint32_t a : addresses) {
      const kestrix::TMfSegment* s = map.FindSegment(true, a);
      const kestrix::TMfPublic* p = map.FindPublic(a);
      uint32_t next;
      found += (s != nullptr) + (p != nullptr) + (map.LineAt(a, next) > 0);
    }
    lookups.push_back(std::chrono::duration<double, std::nano>(Clock::now() - t0).count() / addresses.size());
  }
  std::printf("map: %zu segments, %zu publics, %zu lines\n", map.Segments().size(), map.Publics().size(),
              map.Lines().size());
  std::printf("load (median of %d): %.2f ms\n", rounds, Median(loads));
  std::printf("lookup unit+public+line (median): %.1f ns  [%zu]\n", Median(lookups), found);
  return 0;
}
