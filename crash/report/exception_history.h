// The exception history: times of the last exceptions, the automatic
// restart/close rule, and the restart block through which a restarted
// process takes over the history of the old one.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace kestrix {

// Times (whole seconds of UTC since 1601) of the last ten exceptions that
// were not hidden, newest first; 0 = no entry.
using TExceptionTimeRing = std::array<uint64_t, 10>;

void PushExceptionTime(TExceptionTimeRing& ring, uint64_t now);

// n = 0: false; n = 1: true; n > 1: all ten entries set and none more than
// n seconds before now (negative n: false).
bool AutoActionDue(int32_t n, const TExceptionTimeRing& ring, uint64_t now);

// The restart block, shared memory named "KestrixRestart<new pid in hex>":
// the old process id, the block's own mapping handle duplicated into the new
// process (which closes it after reading), and the old ring, each time as
// two little-endian 32-bit words, low word first.
struct TRestartBlock {
  uint32_t oldProcessId = 0;
  uint32_t mappingHandle = 0;
  TExceptionTimeRing ring{};
};
constexpr size_t kRestartBlockSize = 8 + 10 * 8;
void WriteRestartBlock(const TRestartBlock& block, uint8_t (&out)[kRestartBlockSize]);
TRestartBlock ReadRestartBlock(const uint8_t (&in)[kRestartBlockSize]);
// "KestrixRestart" and the new process's id in lower-case hexadecimal.
std::string RestartBlockName(uint32_t newProcessId);

}  // namespace kestrix
