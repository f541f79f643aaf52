#include "crash/report/exception_history.h"

#include <cstdio>
#include <cstring>

namespace kestrix {

void PushExceptionTime(TExceptionTimeRing& ring, uint64_t now) {
  for (size_t i = ring.size() - 1; i > 0; --i) ring[i] = ring[i - 1];
  ring[0] = now;
}

bool AutoActionDue(int32_t n, const TExceptionTimeRing& ring, uint64_t now) {
  if (n <= 0) return false;
  if (n == 1) return true;
  for (uint64_t t : ring) {
    if (t == 0) return false;
    if (t < now && now - t > static_cast<uint64_t>(n)) return false;
  }
  return true;
}

namespace {
void PutWord(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
uint32_t GetWord(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
}  // namespace

void WriteRestartBlock(const TRestartBlock& block, uint8_t (&out)[kRestartBlockSize]) {
  PutWord(out, block.oldProcessId);
  PutWord(out + 4, block.mappingHandle);
  for (size_t i = 0; i < block.ring.size(); ++i) {
    PutWord(out + 8 + 8 * i, static_cast<uint32_t>(block.ring[i]));
    PutWord(out + 12 + 8 * i, static_cast<uint32_t>(block.ring[i] >> 32));
  }
}

TRestartBlock ReadRestartBlock(const uint8_t (&in)[kRestartBlockSize]) {
  TRestartBlock block;
  block.oldProcessId = GetWord(in);
  block.mappingHandle = GetWord(in + 4);
  for (size_t i = 0; i < block.ring.size(); ++i)
    block.ring[i] = GetWord(in + 8 + 8 * i) | (static_cast<uint64_t>(GetWord(in + 12 + 8 * i)) << 32);
  return block;
}

std::string RestartBlockName(uint32_t newProcessId) {
  char hex[9];
  std::snprintf(hex, sizeof hex, "%x", static_cast<unsigned>(newProcessId));
  return std::string("KestrixRestart") + hex;
}

}  // namespace kestrix
