// Byte streams with size, position, seek and read, and the line reader
// (ReadLn / Eof) that the analyzer's scanners use over them.
#pragma once

#include <cstdint>
#include <string>

namespace quorrin {

enum class SeekOrigin { Beginning, Current, End };

class TStream {
 public:
  virtual ~TStream() = default;
  // Reads up to count bytes at the current position; returns how many were read.
  virtual int64_t Read(void* buffer, int64_t count) = 0;
  // Moves the position; returns the new position. A target before the start
  // leaves the position unchanged and returns it.
  virtual int64_t Seek(int64_t offset, SeekOrigin origin) = 0;
  virtual int64_t Size() = 0;
  int64_t Position() { return Seek(0, SeekOrigin::Current); }
};

// A stream over bytes held in memory (tests, fuzzing).
class TMemoryStream : public TStream {
 public:
  explicit TMemoryStream(std::string bytes) : data_(std::move(bytes)) {}
  int64_t Read(void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, SeekOrigin origin) override;
  int64_t Size() override { return static_cast<int64_t>(data_.size()); }

 private:
  std::string data_;
  int64_t pos_ = 0;
};

// True when the position is at or beyond the size.
bool StreamEof(TStream& s);

// Reads the next line: bytes up to a line feed (consumed, not stored); one
// trailing carriage return is removed. A read failure ends the line.
std::string StreamReadLn(TStream& s);

}  // namespace quorrin
