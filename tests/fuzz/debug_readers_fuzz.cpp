// The text map, JDBG and TD32 readers on any input: no read outside the
// data, no crash. TD32 is read as data, as a ".tds" file and as a module
// file (TD32 behind a PE image's debug directory).
#include <cstddef>
#include <cstdint>
#include <string>

#include "debuginfo/readers/jdbg_reader.h"
#include "debuginfo/readers/td32_reader.h"
#include "debuginfo/readers/text_map_reader.h"

namespace {

// Every file of the module is the input; the ".tds" file exists or not.
class TFuzzFiles : public kestrix::TModuleSource {
 public:
  TFuzzFiles(const uint8_t* data, size_t size, bool tds) : bytes_(reinterpret_cast<const char*>(data), size), tds_(tds) {}
  kestrix::TPeView Image() override {
    return {reinterpret_cast<const uint8_t*>(bytes_.data()), bytes_.size(), false};
  }
  uint32_t Handle() override { return 0x400000; }
  bool ReadWholeFile(const std::string& path, std::string& bytes) override {
    if (!tds_ && path.size() > 4 && path.compare(path.size() - 4, 4, ".tds") == 0) return false;
    bytes = bytes_;
    return true;
  }
  bool FileDay(const std::string& path, int64_t& day) override {
    day = 1;
    return tds_ && path.size() > 4 && path.compare(path.size() - 4, 4, ".tds") == 0;
  }

 private:
  std::string bytes_;
  bool tds_;
};

kestrix::TMapFile FreshMap() {
  kestrix::TModuleBounds bounds;
  bounds.baseOfCode = 0x401000;
  bounds.topOfCode = 0x402000;
  bounds.baseOfData = 0x403000;
  kestrix::TMapFile map(false, 0x400000, "fuzz.exe");
  map.SetBounds(bounds);
  return map;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kestrix::TMapFile text = FreshMap();
  kestrix::ParseTextMap(std::string(reinterpret_cast<const char*>(data), size), text);
  kestrix::TMapFile jdbg = FreshMap();
  std::string error;
  kestrix::ReadJdbgData(data, size, jdbg, error);
  kestrix::TMapFile td32 = FreshMap();
  if (kestrix::ParseTd32Data(data, size, td32, error) == kestrix::TTd32Result::kLoaded) {
    td32.Valid = true;
    uint32_t next;
    for (uint32_t a : {0x401000u, 0x401800u, 0x403010u}) {
      td32.LineAt(a, next);
      td32.PublicAt(a);
      td32.SegmentAt(true, a);
    }
  }
  for (bool tds : {true, false}) {
    kestrix::TMapFile module = FreshMap();
    TFuzzFiles files(data, size, tds);
    kestrix::ParseTd32Info(module, files, true, error);
  }
  return 0;
}
