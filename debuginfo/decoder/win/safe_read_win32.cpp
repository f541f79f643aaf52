// Guarded reads through the kernel's read-memory routine for the own
// process, which reports failure instead of faulting (guard pages too).
#include "debuginfo/decoder/win/safe_read_win32.h"

#include <windows.h>

namespace kestrix::decoder {

TDATryRead TakeReadableRegions() {
  TDATryRead regions;
  uint32_t address = 0;
  MEMORY_BASIC_INFORMATION info;
  while (address < 0x80000000u &&
         VirtualQuery(reinterpret_cast<void*>(static_cast<uintptr_t>(address)), &info, sizeof info) == sizeof info) {
    const uint32_t begin = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(info.BaseAddress));
    const uint32_t size = static_cast<uint32_t>(info.RegionSize);
    if (size == 0) break;
    regions.Add(begin, begin + size, IsReadableRegion(info.State, info.Protect));
    if (begin + size <= address) break;  // wrapped
    address = begin + size;
  }
  return regions;
}

namespace {

// Without a snapshot: the regions the bytes lie in, asked one by one.
bool QueryReadable(uint32_t address, uint32_t count) {
  const uint32_t last = address + (count - 1);
  if (last < address) return false;
  for (uint32_t at = address;;) {
    MEMORY_BASIC_INFORMATION info;
    if (VirtualQuery(reinterpret_cast<const void*>(static_cast<uintptr_t>(at)), &info, sizeof info) != sizeof info ||
        !IsReadableRegion(info.State, info.Protect)) {
      return false;
    }
    const uint32_t end = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(info.BaseAddress) + info.RegionSize);
    if (end == 0 || last < end) return true;
    at = end;
  }
}

}  // namespace

bool SafeRead(uint32_t source, void* dest, uint32_t count, const TDATryRead* regions) {
  if (source == 0) return false;
  if (count == 0) return true;
  // The kernel's read of the own process may succeed where the process
  // itself would fault (Wine reads through the process's memory file), so
  // the regions decide first.
  if (regions != nullptr ? !regions->IsRangeReadable(source, count) : !QueryReadable(source, count)) return false;
  SIZE_T read = 0;
  if (!ReadProcessMemory(GetCurrentProcess(), reinterpret_cast<const void*>(static_cast<uintptr_t>(source)), dest,
                         count, &read)) {
    return false;
  }
  return read == count;
}

uint32_t ProcessReader::Fetch(uint32_t address, uint8_t* scratch, uint32_t max, const uint8_t** out) const {
  *out = scratch;
  const uint32_t inPage = 4096 - (address & 4095);
  const uint32_t first = max < inPage ? max : inPage;
  if (!SafeRead(address, scratch, first, regions_)) return 0;
  if (first < max && SafeRead(address + first, scratch + first, max - first, regions_)) return max;
  return first;
}

}  // namespace kestrix::decoder
