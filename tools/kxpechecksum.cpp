// kxpechecksum <image>: writes the PE image checksum into the optional
// header of an executable or library, the last build step of a program
// that checks its own file at start-up.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "crash/base/pe_checksum.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: kxpechecksum <image>\n");
    return 2;
  }
  std::vector<uint8_t> data;
  {
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
      std::fprintf(stderr, "kxpechecksum: cannot read %s\n", argv[1]);
      return 1;
    }
    data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  const size_t offset = kestrix::PeChecksumOffset(data.data(), data.size());
  if (offset == 0) {
    std::fprintf(stderr, "kxpechecksum: %s is not a PE image\n", argv[1]);
    return 1;
  }
  const uint32_t sum = kestrix::PeChecksum(data.data(), data.size(), offset);
  std::memcpy(data.data() + offset, &sum, 4);
  std::fstream out(argv[1], std::ios::binary | std::ios::in | std::ios::out);
  out.seekp(static_cast<std::streamoff>(offset));
  out.write(reinterpret_cast<const char*>(&sum), 4);
  if (!out) {
    std::fprintf(stderr, "kxpechecksum: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
