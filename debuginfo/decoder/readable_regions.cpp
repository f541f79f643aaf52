// The readable-region snapshot: merging and lookup.
#include "debuginfo/decoder/readable_regions.h"

#include <algorithm>

namespace kestrix::decoder {

TDATryRead::TDATryRead() { regions_.reserve(64); }

void TDATryRead::Add(uint32_t begin, uint32_t end, bool readable) {
  if (end <= begin) return;
  if (!regions_.empty()) {
    TReadableRegion& last = regions_.back();
    if (last.end == begin && last.readable == readable) {
      last.end = end;
      return;
    }
  }
  if (regions_.size() == regions_.capacity()) regions_.reserve(regions_.capacity() + regions_.capacity() / 2);
  regions_.push_back({begin, end, readable});
}

const TReadableRegion* TDATryRead::Find(uint32_t address) const {
  auto it = std::upper_bound(regions_.begin(), regions_.end(), address,
                             [](uint32_t a, const TReadableRegion& r) { return a < r.end; });
  if (it == regions_.end() || address < it->begin) return nullptr;
  return &*it;
}

bool TDATryRead::IsRangeReadable(uint32_t address, uint32_t count) const {
  if (count == 0) return true;
  const uint32_t last = address + (count - 1);
  if (last < address) return false;  // wraps
  const TReadableRegion* r = Find(address);
  while (r != nullptr && r->readable) {
    if (last < r->end) return true;
    r = Find(r->end);
  }
  return false;
}

bool IsReadableRegion(uint32_t state, uint32_t protection) {
  constexpr uint32_t kMemCommit = 0x1000;
  if (state != kMemCommit) return false;
  switch (protection) {
    case 0x02:  // read-only
    case 0x04:  // read-write
    case 0x08:  // write-copy
    case 0x10:  // execute
    case 0x20:  // execute-read
    case 0x40:  // execute-read-write
    case 0x80:  // execute-write-copy
      return true;
    default:
      return false;
  }
}

}  // namespace kestrix::decoder
