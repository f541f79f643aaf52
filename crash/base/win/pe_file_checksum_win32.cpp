#include "crash/base/win/pe_file_checksum_win32.h"

#include <windows.h>

#include "crash/base/little_endian.h"
#include "crash/base/pe_checksum.h"
#include "crash/base/win/scoped_handle.h"

namespace kestrix {

namespace {

// The part read at a time: large enough that the calls cost nothing beside
// the copying, small enough to stay in the processor's cache.
constexpr DWORD kPartSize = 256 * 1024;

struct TVirtualBufferTraits {
  using Type = void*;
  static constexpr void* Empty() { return nullptr; }
  static bool IsValid(void* p) { return p != nullptr; }
  static void Close(void* p) { VirtualFree(p, 0, MEM_RELEASE); }
};

// Fills the buffer up to its size or the file's end; false on a read error.
bool ReadPart(HANDLE file, uint8_t* buffer, DWORD& got) {
  got = 0;
  while (got < kPartSize) {
    DWORD n = 0;
    if (!ReadFile(file, buffer + got, kPartSize - got, &n, nullptr)) return false;
    if (n == 0) break;
    got += n;
  }
  return true;
}

}  // namespace

TPeFileChecksum ReadPeFileChecksum(const char* path, bool skipUnset) {
  TPeFileChecksum result;
  TScopedHandle file(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file) return result;
  // Given back to the system as a whole afterwards, not kept in the heap.
  TScoped<TVirtualBufferTraits> memory(VirtualAlloc(nullptr, kPartSize, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
  if (!memory) return result;
  auto* buffer = static_cast<uint8_t*>(memory.Get());
  DWORD got = 0;
  if (!ReadPart(file.Get(), buffer, got)) return result;
  const size_t offset = PeChecksumOffset(buffer, got);
  if (!offset || offset + 4 > got) return result;
  result.stored = Dword(buffer + offset);
  if (skipUnset && result.stored == 0) {
    result.valid = true;
    return result;
  }
  TPeChecksum sum(offset);
  while (got > 0) {
    sum.Add(buffer, got);
    if (got < kPartSize) break;
    if (!ReadPart(file.Get(), buffer, got)) return result;
  }
  result.computed = sum.Finish();
  result.valid = true;
  return result;
}

}  // namespace kestrix
