#include "crash/exception/frame_walk.h"

namespace kestrix {

int WalkFrameChain(uint32_t eip, uint32_t ebp, TMemoryReader read, void* context, uint32_t* out, int max) {
  if (max <= 0) return 0;
  int n = 0;
  out[n++] = eip;
  uint32_t frame = ebp;
  while (n < max && frame && (frame & 3) == 0) {
    uint32_t pair[2];
    if (!read(frame, pair, sizeof pair, context) || pair[1] == 0) break;
    out[n++] = pair[1];
    if (pair[0] <= frame || pair[0] - frame > 0x1000000) break;
    frame = pair[0];
  }
  return n;
}

}  // namespace kestrix
