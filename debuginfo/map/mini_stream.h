// A read-only memory stream over the inflated map data.
#pragma once

#include <cstdint>
#include <cstdlib>

namespace kestrix {

class TMiniStream {
 public:
  TMiniStream() = default;
  TMiniStream(const TMiniStream&) = delete;
  TMiniStream& operator=(const TMiniStream&) = delete;
  ~TMiniStream() { std::free(memory_); }

  // The capacity is rounded up to a multiple of 8192; size 0 frees the
  // block; the position is clipped to the new size. False when out of memory.
  bool SetSize(int32_t size);
  // Copies min(count, size - position) bytes; 0 for a negative position or
  // count, a non-positive number when nothing remains.
  int32_t Read(void* buffer, int32_t count);
  bool ReadExact(void* buffer, int32_t count) { return count >= 0 && Read(buffer, count) == count; }

  uint8_t* Memory() { return memory_; }
  int32_t Size() const { return size_; }
  int32_t Position() const { return position_; }
  void SetPosition(int32_t p) { position_ = p; }
  int32_t Remaining() const { return size_ > position_ ? size_ - position_ : 0; }

 private:
  uint8_t* memory_ = nullptr;
  int32_t size_ = 0, position_ = 0, capacity_ = 0;
};

}  // namespace kestrix
