// Guarded reads through the kernel's read-memory routine for the own
// process, which reports failure instead of faulting (guard pages too).
#include "debuginfo/decoder/win/safe_read_win32.h"

#include <windows.h>

#include <algorithm>
#include <cstring>

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
  const uint32_t offset = address & 4095, inPage = 4096 - offset;
  const uint8_t* page = Page(address - offset);
  if (!page) return 0;
  if (max <= inPage) {
    *out = page + offset;
    return max;
  }
  std::memcpy(scratch, page + offset, inPage);
  *out = scratch;
  const uint8_t* next = Page(address - offset + 4096);
  if (!next) return inPage;
  const uint32_t rest = max - inPage < 4096 ? max - inPage : 4096;
  std::memcpy(scratch + inPage, next, rest);
  return inPage + rest;
}

ProcessReader::~ProcessReader() {
  for (void* module : heldModules_) FreeLibrary(static_cast<HMODULE>(module));
}

// A readable, read-only page of a module image: the module is held loaded
// while this reader lives, so the page can be read where it is.
const uint8_t* ProcessReader::ImagePage(uint32_t at) const {
  MEMORY_BASIC_INFORMATION info;
  if (VirtualQuery(reinterpret_cast<const void*>(static_cast<uintptr_t>(at)), &info, sizeof info) != sizeof info ||
      info.Type != MEM_IMAGE || !IsReadableRegion(info.State, info.Protect) ||
      (info.Protect & (PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY)) ||
      (regions_ && !regions_->IsRangeReadable(at, 4096)))
    return nullptr;
  HMODULE module = nullptr;
  if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                          reinterpret_cast<LPCSTR>(static_cast<uintptr_t>(at)), &module))
    return nullptr;
  if (std::find(heldModules_.begin(), heldModules_.end(), module) != heldModules_.end())
    FreeLibrary(module);  // held already
  else
    heldModules_.push_back(module);
  // Held now: the page is still the module's (it may have been unloaded and
  // something else mapped there before the hold).
  if (VirtualQuery(reinterpret_cast<const void*>(static_cast<uintptr_t>(at)), &info, sizeof info) != sizeof info ||
      info.AllocationBase != module || !IsReadableRegion(info.State, info.Protect))
    return nullptr;
  return reinterpret_cast<const uint8_t*>(static_cast<uintptr_t>(at));
}

const uint8_t* ProcessReader::Page(uint32_t at) const {
  auto it = pages_.find(at);
  if (it != pages_.end()) return it->second;
  const uint8_t* page = at != 0 ? ImagePage(at) : nullptr;
  if (!page && at != 0) {
    auto copy = std::make_unique<uint8_t[]>(4096);
    if (SafeRead(at, copy.get(), 4096, regions_)) {
      page = copy.get();
      copies_.push_back(std::move(copy));
    }
  }
  pages_.emplace(at, page);
  return page;
}

}  // namespace kestrix::decoder
