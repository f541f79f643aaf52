// The compact map reader and the module map built from a PE file's bytes
// (its resources) on any input: no read outside the data, no crash.
#include <cstddef>
#include <cstdint>
#include <string>

#include "debuginfo/map/compact_map.h"
#include "debuginfo/readers/module_map.h"

namespace {

class TFuzzModule : public kestrix::TModuleSource {
 public:
  TFuzzModule(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  kestrix::TPeView Image() override { return {data_, size_, false}; }
  uint32_t Handle() override { return 0x400000; }
  bool ReadWholeFile(const std::string&, std::string&) override { return false; }
  bool FileDay(const std::string&, int64_t&) override { return false; }

 private:
  const uint8_t* data_;
  size_t size_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kestrix::TMapFile map;
  std::string error;
  kestrix::LoadCompactMap(data, size, map, error);
  map.Valid = true;
  uint32_t next;
  for (uint32_t a : {0u, 0x401000u, 0x401234u}) {
    map.LineAt(a, next);
    map.PublicAt(a);
    map.SegmentAt(true, a);
  }
  kestrix::TMapFile module(false, 0x400000, "fuzz.exe");
  TFuzzModule source(data, size);
  kestrix::BuildModuleMap(module, source, error);
  return 0;
}
