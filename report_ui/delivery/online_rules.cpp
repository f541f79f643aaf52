#include "report_ui/delivery/online_rules.h"

namespace kestrix {

namespace {

struct TNetwork {
  uint32_t prefix;
  int bits;
};

constexpr TNetwork kLocalNetworks[] = {
    {0x7F000000u, 8},   // loopback
    {0x0A000000u, 8},   // private
    {0xAC100000u, 12},  // private
    {0xC0A80000u, 16},  // private
    {0x64400000u, 10},  // shared address space
    {0xA9FE0000u, 16},  // link-local
};

}  // namespace

bool IsLocalNetworkAddress(uint32_t address) {
  for (const TNetwork& n : kLocalNetworks) {
    const uint32_t mask = ~0u << (32 - n.bits);
    if ((address & mask) == n.prefix) return true;
  }
  return false;
}

}  // namespace kestrix
