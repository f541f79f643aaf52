// Read-only file streams over an operating-system file handle.
#pragma once

#include <cstdint>
#include <string>

#include "analyzer/stream.h"

namespace quorrin {

// Open modes: the two low bits select the access, bits 4 to 7 what other
// openers of the file may do.
constexpr unsigned fmOpenRead = 0x0000;
constexpr unsigned fmShareExclusive = 0x0010;
constexpr unsigned fmShareDenyWrite = 0x0020;
constexpr unsigned fmShareDenyRead = 0x0030;
constexpr unsigned fmShareDenyNone = 0x0040;

// Opens an existing file; raises EFOpenError ("Cannot open file \"%s\". %s")
// when that fails. Reads are buffered; the size is taken once at open.
class TFileStream : public TStream {
 public:
  TFileStream(const std::string& fileName, unsigned mode);
  ~TFileStream() override;
  TFileStream(const TFileStream&) = delete;
  TFileStream& operator=(const TFileStream&) = delete;

  int64_t Read(void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, SeekOrigin origin) override;
  int64_t Size() override { return size_; }

 private:
  bool Fill();

  void* handle_;
  int64_t size_ = 0;
  int64_t pos_ = 0;          // logical position
  std::string buffer_;       // bytes of the file from bufferStart_
  int64_t bufferStart_ = 0;
};

// A file stream with line reading.
class TTextFileStream : public TFileStream {
 public:
  using TFileStream::TFileStream;
  std::string ReadLn() { return StreamReadLn(*this); }
  void ReadLn(std::string& line) { line = StreamReadLn(*this); }
  bool Eof() { return StreamEof(*this); }
};

}  // namespace quorrin
