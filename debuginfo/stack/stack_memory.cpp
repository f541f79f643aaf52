// Reads from the stack copy where it holds the address, else from the
// process; a read that crosses the copy's edges is put together in scratch.
#include "debuginfo/stack/stack_memory.h"

#include <cstring>

namespace kestrix::stack {

uint32_t StackCopyReader::Fetch(uint32_t address, uint8_t* scratch, uint32_t max, const uint8_t** out) const {
  const uint32_t size = static_cast<uint32_t>(bytes_.size());
  const bool inCopy = address - at_ < size;
  const bool reachesCopy = address < at_ && at_ - address < max && size > 0;
  if (inCopy && size - (address - at_) >= max) {
    *out = bytes_.data() + (address - at_);
    return max;
  }
  if (!inCopy && !reachesCopy) return base_.Fetch(address, scratch, max, out);
  // Pieces: the process, the copy, the process again, in scratch.
  uint32_t done = 0;
  while (done < max) {
    const uint32_t at = address + done;
    uint32_t want = max - done;
    const uint8_t* part = nullptr;
    uint32_t got = 0;
    if (at - at_ < size) {
      const uint32_t left = size - (at - at_);
      got = want = want < left ? want : left;
      part = bytes_.data() + (at - at_);
    } else {
      if (at < at_ && at_ - at < want) want = at_ - at;
      got = base_.Fetch(at, scratch + done, want, &part);
      if (got == 0) break;
    }
    if (part != scratch + done) std::memmove(scratch + done, part, got);
    done += got;
    if (got < want) break;
  }
  *out = scratch;
  return done;
}

}  // namespace kestrix::stack
