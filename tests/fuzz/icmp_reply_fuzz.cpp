// The online check's reply test, from any bytes a raw socket may deliver.
#include <cstddef>
#include <cstdint>

#include "report_ui/delivery/icmp_echo.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  uint16_t id = size > 1 ? static_cast<uint16_t>(data[0] << 8 | data[1]) : 0;
  bool reply = kestrix::IsEchoReply(data, size, id, 7);
  if (reply && (size < 28 || (data[0] >> 4) != 4)) __builtin_trap();
  kestrix::InternetChecksum(data, size);
  return 0;
}
