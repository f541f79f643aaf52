// The readable-region snapshot (TDATryRead) that guarded reads consult
// before any system call, and the rule that makes a region readable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kestrix::decoder {

struct TReadableRegion {
  uint32_t begin;
  uint32_t end;  // exclusive
  bool readable;
};

class TDATryRead {
 public:
  TDATryRead();
  // Regions come in ascending order; an adjacent region of the same
  // readability extends the last one.
  void Add(uint32_t begin, uint32_t end, bool readable);
  // The region holding address (binary search), or nullptr.
  const TReadableRegion* Find(uint32_t address) const;
  bool IsReadable(uint32_t address) const {
    const TReadableRegion* r = Find(address);
    return r != nullptr && r->readable;
  }
  // Every byte of [address, address + count) lies in readable regions.
  bool IsRangeReadable(uint32_t address, uint32_t count) const;
  size_t size() const { return regions_.size(); }
  const TReadableRegion& operator[](size_t i) const { return regions_[i]; }

 private:
  std::vector<TReadableRegion> regions_;
};

// Memory-region state and protection as the system reports them: readable
// when committed and the protection is one of read-only, read-write,
// write-copy, execute, execute-read, execute-read-write, execute-write-copy
// with no modifier (guard, no-cache, write-combine).
bool IsReadableRegion(uint32_t state, uint32_t protection);

}  // namespace kestrix::decoder
