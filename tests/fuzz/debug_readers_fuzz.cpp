// The text map and JDBG readers on any input: no read outside the data.
#include <cstddef>
#include <cstdint>
#include <string>

#include "debuginfo/readers/jdbg_reader.h"
#include "debuginfo/readers/text_map_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kestrix::TModuleBounds bounds;
  bounds.baseOfCode = 0x401000;
  bounds.topOfCode = 0x402000;
  kestrix::TMapFile text(false, 0x400000, "fuzz.exe");
  text.SetBounds(bounds);
  kestrix::ParseTextMap(std::string(reinterpret_cast<const char*>(data), size), text);
  kestrix::TMapFile jdbg(false, 0x400000, "fuzz.exe");
  jdbg.SetBounds(bounds);
  std::string error;
  kestrix::ReadJdbgData(data, size, jdbg, error);
  return 0;
}
