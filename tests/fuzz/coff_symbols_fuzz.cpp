// The COFF symbol reader on arbitrary bytes: it reads program files that
// may be damaged, so it must never read outside them.
#include <cstddef>
#include <cstdint>

#include "crash/report/coff_symbols.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kestrix::ReadCoffFunctions(data, size);
  return 0;
}
