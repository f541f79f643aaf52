// libFuzzer target: the uses-clause scanner (project and unit form) and the
// initialization-section scan over arbitrary bytes.
#include <cstddef>
#include <cstdint>
#include <string>

#include "analyzer/init_section.h"
#include "analyzer/stream.h"
#include "analyzer/uses_clause.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  for (bool project : {true, false}) {
    quorrin::TMemoryStream s(bytes);
    (void)quorrin::GetUsesListFromStream(s, project);
  }
  quorrin::TMemoryStream s(bytes);
  const std::string section = quorrin::GetInitializationSectionFromStream(s);
  // The section is always a tail of the input.
  if (!section.empty() && bytes.compare(bytes.size() - section.size(), section.size(), section) != 0)
    __builtin_trap();
  return 0;
}
