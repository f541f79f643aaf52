#include <windows.h>

#include <algorithm>
#include <cstring>

#include "analyzer/errors.h"
#include "analyzer/file_stream.h"
#include "analyzer/platform_fs.h"

namespace quorrin {
namespace {

constexpr DWORD kAccess[4] = {GENERIC_READ, GENERIC_WRITE, GENERIC_READ | GENERIC_WRITE, 0};
constexpr DWORD kShare[5] = {0, 0, FILE_SHARE_READ, FILE_SHARE_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE};
constexpr int64_t kBufferSize = 64 * 1024;

}  // namespace

TFileStream::TFileStream(const std::string& fileName, unsigned mode) {
  const unsigned share = (mode & 0xF0) >> 4;
  handle_ = CreateFileA(fileName.c_str(), kAccess[mode & 3], share <= 4 ? kShare[share] : 0, nullptr,
                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle_ == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    throw EFOpenError("Cannot open file \"" + ExpandFileName(fileName) + "\". " + SysErrorMessage(error));
  }
  LARGE_INTEGER size;
  if (GetFileSizeEx(handle_, &size)) size_ = size.QuadPart;
}

TFileStream::~TFileStream() { CloseHandle(handle_); }

bool TFileStream::Fill() {
  const int64_t want = std::min(kBufferSize, size_ - pos_);
  buffer_.resize(static_cast<size_t>(want));
  LARGE_INTEGER to;
  to.QuadPart = pos_;
  DWORD got = 0;
  if (!SetFilePointerEx(handle_, to, nullptr, FILE_BEGIN) ||
      !ReadFile(handle_, buffer_.data(), static_cast<DWORD>(want), &got, nullptr)) {
    buffer_.clear();
    return false;
  }
  buffer_.resize(got);
  bufferStart_ = pos_;
  return got > 0;
}

int64_t TFileStream::Read(void* out, int64_t count) {
  char* dest = static_cast<char*>(out);
  int64_t done = 0;
  while (done < count && pos_ < size_) {
    const int64_t bufferEnd = bufferStart_ + static_cast<int64_t>(buffer_.size());
    if (pos_ < bufferStart_ || pos_ >= bufferEnd) {
      // Large reads go straight to the file; small ones through the buffer.
      if (count - done >= kBufferSize) {
        LARGE_INTEGER to;
        to.QuadPart = pos_;
        DWORD got = 0;
        const DWORD want = static_cast<DWORD>(std::min<int64_t>(count - done, size_ - pos_));
        if (!SetFilePointerEx(handle_, to, nullptr, FILE_BEGIN) ||
            !ReadFile(handle_, dest + done, want, &got, nullptr) || got == 0)
          break;
        done += got;
        pos_ += got;
        continue;
      }
      if (!Fill()) break;
      continue;
    }
    const int64_t n = std::min(count - done, bufferEnd - pos_);
    std::memcpy(dest + done, buffer_.data() + (pos_ - bufferStart_), static_cast<size_t>(n));
    done += n;
    pos_ += n;
  }
  return done;
}

int64_t TFileStream::Seek(int64_t offset, SeekOrigin origin) {
  int64_t base = 0;
  if (origin == SeekOrigin::Current) base = pos_;
  if (origin == SeekOrigin::End) base = size_;
  const int64_t target = base + offset;
  if (target >= 0) pos_ = target;
  return pos_;
}

}  // namespace quorrin
