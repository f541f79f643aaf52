#include "analyzer/init_section.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "analyzer/text_utils.h"

namespace quorrin {
namespace {

bool IsStopLetter(char c) {
  switch (c) {
    case 'B': case 'E': case 'I': case 'b': case 'e': case 'i':
      return true;
    default:
      return false;
  }
}

// The keywords are compared against the bytes from the stop letter on.
bool StartsWithKeyword(std::string_view tail, std::string_view keyword) {
  return tail.size() >= keyword.size() && SameTextAscii(tail.substr(0, keyword.size()), keyword);
}

constexpr size_t kLongestKeyword = 14;  // "initialization"

}  // namespace

std::string GetInitializationSectionFromStream(TStream& stream) {
  const int64_t size = stream.Size();
  // Offsets size-1 down to 1 are examined, one block at a time; byte 0 never.
  constexpr int64_t kBlock = 4096;
  std::string block;
  // The bytes that follow the current block in the file (at most the longest
  // keyword), so that a keyword straddling two blocks is still seen.
  std::string ahead;
  int64_t blockEnd = size;  // one past the block's last byte
  while (blockEnd > 1) {
    const int64_t blockStart = std::max<int64_t>(1, blockEnd - kBlock);
    const int64_t len = blockEnd - blockStart;
    block.resize(static_cast<size_t>(len));
    if (stream.Seek(blockStart, SeekOrigin::Beginning) != blockStart) return {};
    if (stream.Read(block.data(), len) != len) return {};
    const std::string window = block + ahead;
    for (int64_t i = len - 1; i >= 0; --i) {
      if (!IsStopLetter(block[static_cast<size_t>(i)])) continue;
      const std::string_view tail = std::string_view(window).substr(static_cast<size_t>(i));
      if (StartsWithKeyword(tail, "end;")) return {};
      if (StartsWithKeyword(tail, "begin") || StartsWithKeyword(tail, "initialization")) {
        const int64_t start = blockStart + i;
        std::string result(static_cast<size_t>(size - start), '\0');
        if (stream.Seek(start, SeekOrigin::Beginning) != start) return {};
        if (stream.Read(result.data(), size - start) != size - start) return {};
        return result;
      }
    }
    ahead = window.substr(0, std::min(window.size(), kLongestKeyword));
    blockEnd = blockStart;
  }
  return {};
}

}  // namespace quorrin
