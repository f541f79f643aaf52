// Form definitions from any bytes: read (a valid one must come back the same
// through the writer), and as a readable form file.
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "report_ui/assistant/form_definition.h"
#include "report_ui/assistant/form_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kestrix::TFormReadResult r = kestrix::ReadFormDefinition(data, size);
  if (!r.valid && r.error.rfind("Internal error: Invalid assistant resource (", 0) != 0) __builtin_trap();
  if (r.valid && size >= 4) {
    try {
      std::vector<uint8_t> again = kestrix::WriteFormDefinition(r.root);
      kestrix::TFormReadResult back = kestrix::ReadFormDefinition(again.data(), again.size());
      if (!back.valid || kestrix::FormText(back.root) != kestrix::FormText(r.root)) __builtin_trap();
    } catch (const std::invalid_argument&) {
      // names the reader took but the writer refuses (empty property names)
    }
  }
  try {
    kestrix::ParseFormText(std::string(reinterpret_cast<const char*>(data), size));
  } catch (const std::invalid_argument&) {
  }
  return 0;
}
