// The PE checksum of a file on disk, read in parts at the speed of the file
// cache: the file is not mapped, so that checking a large executable at
// start-up does not bring all of it into the process's memory.
#pragma once

#include <cstdint>

namespace kestrix {

struct TPeFileChecksum {
  bool valid = false;   // a PE file that could be read to its end
  uint32_t stored = 0;  // the header's CheckSum field (0: none set)
  uint32_t computed = 0;
};

// With `skipUnset`, a file whose field is 0 is not summed (computed stays 0).
TPeFileChecksum ReadPeFileChecksum(const char* path, bool skipUnset);

}  // namespace kestrix
