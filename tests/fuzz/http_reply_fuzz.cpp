// The upload server's reply, from any bytes: whole, and arriving in two reads.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "report_ui/delivery/http_reply.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view all(reinterpret_cast<const char*>(data), size);
  for (bool closed : {false, true}) {
    kestrix::THttpReply r = kestrix::ReadHttpReply(all, closed);
    if (closed && r.outcome == kestrix::THttpOutcome::NeedMore) __builtin_trap();
    if (r.location.size() > size) __builtin_trap();
  }
  if (size > 0) kestrix::ReadHttpReply(all.substr(0, data[0] % (size + 1)), false);
  return 0;
}
