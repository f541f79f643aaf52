#include "analyzer/stream.h"

#include <algorithm>
#include <cstring>

namespace quorrin {

int64_t TMemoryStream::Read(void* buffer, int64_t count) {
  const int64_t size = Size();
  if (count <= 0 || pos_ >= size) return 0;
  const int64_t n = std::min(count, size - pos_);
  std::memcpy(buffer, data_.data() + pos_, static_cast<size_t>(n));
  pos_ += n;
  return n;
}

int64_t TMemoryStream::Seek(int64_t offset, SeekOrigin origin) {
  int64_t base = 0;
  if (origin == SeekOrigin::Current) base = pos_;
  if (origin == SeekOrigin::End) base = Size();
  const int64_t target = base + offset;
  if (target >= 0) pos_ = target;
  return pos_;
}

bool StreamEof(TStream& s) { return s.Position() >= s.Size(); }

std::string StreamReadLn(TStream& s) {
  std::string line;
  const int64_t size = s.Size();
  int64_t pos = s.Position();
  // Read in chunks; stop at the first line feed and put the position just
  // after it, exactly where a byte-by-byte reader would leave it.
  char chunk[512];
  while (pos < size) {
    const int64_t want = std::min<int64_t>(sizeof chunk, size - pos);
    const int64_t got = s.Read(chunk, want);
    if (got <= 0) break;
    const void* lf = std::memchr(chunk, '\n', static_cast<size_t>(got));
    if (lf) {
      const int64_t used = static_cast<const char*>(lf) - chunk;
      line.append(chunk, static_cast<size_t>(used));
      s.Seek(pos + used + 1, SeekOrigin::Beginning);
      pos = -1;
      break;
    }
    line.append(chunk, static_cast<size_t>(got));
    pos += got;
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

}  // namespace quorrin
