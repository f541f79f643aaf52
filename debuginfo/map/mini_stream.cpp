#include "debuginfo/map/mini_stream.h"

#include <cstring>

namespace kestrix {

bool TMiniStream::SetSize(int32_t size) {
  if (size < 0) return false;
  if (size == 0) {
    std::free(memory_);
    memory_ = nullptr;
    size_ = position_ = capacity_ = 0;
    return true;
  }
  const int64_t capacity = (static_cast<int64_t>(size) + 8191) / 8192 * 8192;
  if (capacity > INT32_MAX) return false;
  if (capacity != capacity_) {
    auto* block = static_cast<uint8_t*>(std::realloc(memory_, static_cast<size_t>(capacity)));
    if (!block) return false;
    memory_ = block;
    capacity_ = static_cast<int32_t>(capacity);
  }
  size_ = size;
  if (position_ > size_) position_ = size_;
  return true;
}

int32_t TMiniStream::Read(void* buffer, int32_t count) {
  if (position_ < 0 || count < 0) return 0;
  int32_t n = size_ - position_;
  if (n <= 0) return n;
  if (n > count) n = count;
  std::memcpy(buffer, memory_ + position_, static_cast<size_t>(n));
  position_ += n;
  return n;
}

}  // namespace kestrix
