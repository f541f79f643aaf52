// The memory that code is decoded from, with 32-bit addresses: the own
// process through guarded reads on Windows, a byte buffer anywhere.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kestrix::decoder {

class MemoryReader {
 public:
  virtual ~MemoryReader() = default;
  // Up to max bytes from address: returns how many are readable from there
  // on and points *out at them (scratch, of at least max bytes, may be
  // used). Never faults.
  virtual uint32_t Fetch(uint32_t address, uint8_t* scratch, uint32_t max, const uint8_t** out) const = 0;
  // All count bytes or nothing.
  bool Read(uint32_t address, void* dest, uint32_t count) const;
  bool ReadDword(uint32_t address, uint32_t* value) const { return Read(address, value, 4); }
};

// A byte buffer seen at a base address; nothing outside it is readable.
class BufferReader final : public MemoryReader {
 public:
  BufferReader(const uint8_t* data, size_t size, uint32_t base) : data_(data), size_(size), base_(base) {}
  uint32_t Fetch(uint32_t address, uint8_t* scratch, uint32_t max, const uint8_t** out) const override;
  uint32_t base() const { return base_; }
  size_t size() const { return size_; }
  bool Contains(uint32_t address) const { return address - base_ < size_; }

 private:
  const uint8_t* data_;
  size_t size_;
  uint32_t base_;
};

}  // namespace kestrix::decoder
