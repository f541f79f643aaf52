#include "crash/dump/minidump_reader.h"

#include <algorithm>
#include <cstring>

#include "crash/base/little_endian.h"
#include "crash/dump/minidump_format.h"

namespace kestrix {

using namespace minidump;

namespace {

uint64_t Qword(const uint8_t* p) { return Dword(p) | (static_cast<uint64_t>(Dword(p + 4)) << 32); }

std::string Hex(uint64_t v) {
  char s[24];
  std::snprintf(s, sizeof s, "%llx", static_cast<unsigned long long>(v));
  return s;
}

bool Fail(std::string* error, const std::string& what) {
  if (error) *error = what;
  return false;
}

// UTF-16LE to UTF-8 (unpaired surrogates become U+FFFD).
std::string Utf8Of(const uint8_t* p, size_t units) {
  std::string out;
  for (size_t i = 0; i < units; ++i) {
    uint32_t c = Word(p + 2 * i);
    if (c >= 0xd800 && c < 0xdc00 && i + 1 < units && Word(p + 2 * i + 2) >= 0xdc00 && Word(p + 2 * i + 2) < 0xe000) {
      c = 0x10000 + ((c - 0xd800) << 10) + (Word(p + 2 * i + 2) - 0xdc00);
      ++i;
    } else if (c >= 0xd800 && c < 0xe000) {
      c = 0xfffd;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xc0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3f));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xe0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3f));
      out += static_cast<char>(0x80 | (c & 0x3f));
    } else {
      out += static_cast<char>(0xf0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3f));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3f));
      out += static_cast<char>(0x80 | (c & 0x3f));
    }
  }
  return out;
}

// The record count of a list stream (a 32-bit count, then the records);
// false when the records do not fit in the stream.
bool ListCount(const uint8_t* p, uint32_t size, size_t recordSize, uint32_t type, const char* records, uint32_t* n,
               std::string* error) {
  if (size < 4) return Fail(error, "damaged minidump: " + StreamTypeName(type) + " too short");
  *n = Dword(p);
  if (static_cast<uint64_t>(*n) * recordSize > size - 4)
    return Fail(error, "damaged minidump: " + StreamTypeName(type) + " holds " + std::to_string(*n) + " " + records +
                           " in " + std::to_string(size) + " bytes");
  return true;
}

}  // namespace

const TMinidump::TStream* TMinidump::FindStream(uint32_t type) const {
  for (const TStream& s : streams_)
    if (s.type == type) return &s;
  return nullptr;
}

bool TMinidump::Load(std::vector<uint8_t> bytes, std::string* error) {
  *this = TMinidump();
  bytes_ = std::move(bytes);
  if (bytes_.size() < kHeaderSize) return Fail(error, "not a minidump: the file is shorter than a header");
  const uint8_t* b = bytes_.data();
  if (Dword(b) != kSignature) return Fail(error, "not a minidump: no MDMP signature");
  if (Word(b + 4) != kVersion) return Fail(error, "unknown minidump version " + Hex(Word(b + 4)));
  const uint32_t count = Dword(b + 8), directory = Dword(b + 12);
  timeStamp_ = Dword(b + 20);
  if (!Inside(directory, static_cast<uint64_t>(count) * kDirectoryEntrySize))
    return Fail(error, "damaged minidump: the stream directory (" + std::to_string(count) +
                           " entries at offset " + Hex(directory) + ") lies beyond the end of the file");
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* e = b + directory + i * kDirectoryEntrySize;
    TStream s{Dword(e), Dword(e + 4), Dword(e + 8)};
    if (s.type == 0) continue;  // unused entry
    if (!Inside(s.rva, s.size))
      return Fail(error, "damaged minidump: " + StreamTypeName(s.type) + " lies beyond the end of the file");
    streams_.push_back(s);
  }
  if (const TStream* sys = FindStream(kSystemInfoStream)) {
    if (sys->size < 2) return Fail(error, "damaged minidump: SystemInfoStream too short");
    const uint16_t arch = Word(b + sys->rva);
    if (arch != kArchitectureX86) return Fail(error, "not a dump of a 32-bit x86 process (architecture " +
                                                         std::to_string(arch) + ")");
  }
  for (const TStream& s : streams_) {
    bool ok = true;
    switch (s.type) {
      case kThreadListStream: ok = ReadThreads(s, error); break;
      case kModuleListStream: ok = ReadModules(s, error); break;
      case kMemoryListStream: ok = ReadMemoryList(s, error); break;
      case kMemory64ListStream: ok = ReadMemory64List(s, error); break;
      case kExceptionStream: ok = ReadException(s, error); break;
      case kCommentStreamA: {
        const char* text = reinterpret_cast<const char*>(b + s.rva);
        comment_.assign(text, strnlen(text, s.size));
        break;
      }
      case kMiscInfoStream:
        if (s.size >= kMiscProcessId + 4 && (Dword(b + s.rva + kMiscFlags) & kMiscProcessIdValid))
          processId_ = Dword(b + s.rva + kMiscProcessId);
        break;
      default: break;
    }
    if (!ok) return false;
  }
  if (!FindStream(kThreadListStream)) return Fail(error, "damaged minidump: it has no thread list");
  // The same memory may be listed twice (a stack in the thread list and in
  // the memory lists): each address is read from the first range holding it.
  std::stable_sort(ranges_.begin(), ranges_.end(),
                   [](const TRange& x, const TRange& y) { return x.address < y.address; });
  std::vector<TRange> distinct;
  uint64_t covered = 0;  // end of the ranges kept so far
  for (TRange r : ranges_) {
    const uint64_t end = static_cast<uint64_t>(r.address) + r.size;
    if (end <= covered) continue;
    if (r.address < covered) {
      const uint32_t cut = static_cast<uint32_t>(covered - r.address);
      r.address += cut, r.offset += cut, r.size -= cut;
    }
    distinct.push_back(r);
    covered = end;
  }
  ranges_ = std::move(distinct);
  return true;
}

bool TMinidump::AddRange(uint32_t address, uint64_t size, uint64_t offset, std::string* error) {
  if (size == 0) return true;
  if (!Inside(offset, size)) return Fail(error, "damaged minidump: the memory at " + Hex(address) +
                                                    " lies beyond the end of the file");
  if (size > 0x100000000ull - address)
    return Fail(error, "damaged minidump: the memory at " + Hex(address) + " runs past 4 GB");
  ranges_.push_back({address, static_cast<uint32_t>(size), offset});
  return true;
}

bool TMinidump::ReadContext(uint32_t size, uint32_t rva, TSnapshotRegisters* r, std::string* error) const {
  if (size < kContextIntegerEnd || !Inside(rva, size))
    return Fail(error, "damaged minidump: a thread context (" + std::to_string(size) + " bytes at " + Hex(rva) +
                           ") is too short or lies beyond the end of the file");
  const uint8_t* c = bytes_.data() + rva;
  r->eax = Dword(c + kContextEax), r->ebx = Dword(c + kContextEbx), r->ecx = Dword(c + kContextEcx);
  r->edx = Dword(c + kContextEdx), r->esi = Dword(c + kContextEsi), r->edi = Dword(c + kContextEdi);
  r->ebp = Dword(c + kContextEbp), r->esp = Dword(c + kContextEsp), r->eip = Dword(c + kContextEip);
  r->eflags = Dword(c + kContextEFlags);
  r->cs = static_cast<uint16_t>(Dword(c + kContextCs)), r->ds = static_cast<uint16_t>(Dword(c + kContextDs));
  r->es = static_cast<uint16_t>(Dword(c + kContextEs)), r->fs = static_cast<uint16_t>(Dword(c + kContextFs));
  r->gs = static_cast<uint16_t>(Dword(c + kContextGs)), r->ss = static_cast<uint16_t>(Dword(c + kContextSs));
  return true;
}

bool TMinidump::ReadName(uint32_t rva, std::string* out, std::string* error) const {
  if (!Inside(rva, 4)) return Fail(error, "damaged minidump: a module name lies beyond the end of the file");
  const uint32_t length = Dword(bytes_.data() + rva);
  if (length % 2 || !Inside(static_cast<uint64_t>(rva) + 4, length))
    return Fail(error, "damaged minidump: a module name lies beyond the end of the file");
  *out = Utf8Of(bytes_.data() + rva + 4, length / 2);
  return true;
}

bool TMinidump::ReadThreads(const TStream& s, std::string* error) {
  const uint8_t* p = bytes_.data() + s.rva;
  uint32_t n = 0;
  if (!ListCount(p, s.size, kThreadSize, kThreadListStream, "threads", &n, error)) return false;
  for (uint32_t i = 0; i < n; ++i) {
    const uint8_t* t = p + 4 + i * kThreadSize;
    TSnapshotThread thread;
    thread.id = Dword(t + kThreadId);
    thread.suspended = Dword(t + kThreadSuspendCount) > 0;
    thread.priority = static_cast<int32_t>(Dword(t + kThreadPriority));
    const uint64_t stack = Qword(t + kThreadStackStart);
    const uint32_t stackSize = Dword(t + kThreadStackSize);
    if (stack > 0xffffffffull) return Fail(error, "damaged minidump: a stack above 4 GB");
    if (!AddRange(static_cast<uint32_t>(stack), stackSize, Dword(t + kThreadStackRva), error)) return false;
    thread.stackLimit = static_cast<uint32_t>(stack);
    thread.stackBase = static_cast<uint32_t>(stack + stackSize);
    if (Dword(t + kThreadContextSize) > 0) {
      if (!ReadContext(Dword(t + kThreadContextSize), Dword(t + kThreadContextRva), &thread.registers, error))
        return false;
      thread.haveRegisters = true;
    }
    threads_.push_back(thread);
  }
  return true;
}

bool TMinidump::ReadModules(const TStream& s, std::string* error) {
  const uint8_t* p = bytes_.data() + s.rva;
  uint32_t n = 0;
  if (!ListCount(p, s.size, kModuleSize, kModuleListStream, "modules", &n, error)) return false;
  for (uint32_t i = 0; i < n; ++i) {
    const uint8_t* m = p + 4 + i * kModuleSize;
    TSnapshotModule module;
    const uint64_t base = Qword(m + kModuleBase);
    if (base > 0xffffffffull) return Fail(error, "damaged minidump: a module above 4 GB");
    module.base = static_cast<uint32_t>(base);
    module.size = Dword(m + kModuleImageSize);
    module.checkSum = Dword(m + kModuleCheckSum);
    module.timeStamp = Dword(m + kModuleTimeStamp);
    if (!ReadName(Dword(m + kModuleNameRva), &module.path, error)) return false;
    if (Dword(m + kModuleVersion + kVersionSignature) == kVersionBlockSignature) {
      module.versionMS = Dword(m + kModuleVersion + kVersionFileMS);
      module.versionLS = Dword(m + kModuleVersion + kVersionFileLS);
    }
    modules_.push_back(module);
  }
  return true;
}

bool TMinidump::ReadMemoryList(const TStream& s, std::string* error) {
  const uint8_t* p = bytes_.data() + s.rva;
  uint32_t n = 0;
  if (!ListCount(p, s.size, kMemoryDescriptorSize, kMemoryListStream, "ranges", &n, error)) return false;
  for (uint32_t i = 0; i < n; ++i) {
    const uint8_t* d = p + 4 + i * kMemoryDescriptorSize;
    const uint64_t start = Qword(d);
    if (start > 0xffffffffull) return Fail(error, "damaged minidump: memory above 4 GB");
    const uint32_t address = static_cast<uint32_t>(start);
    if (!AddRange(address, Dword(d + 8), Dword(d + 12), error)) return false;
  }
  return true;
}

bool TMinidump::ReadMemory64List(const TStream& s, std::string* error) {
  const uint8_t* p = bytes_.data() + s.rva;
  if (s.size < 16) return Fail(error, "damaged minidump: Memory64ListStream too short");
  const uint64_t n = Qword(p);
  uint64_t offset = Qword(p + 8);
  if (n > (s.size - 16) / kMemoryDescriptor64Size)
    return Fail(error, "damaged minidump: Memory64ListStream holds " + std::to_string(n) + " ranges in " +
                           std::to_string(s.size) + " bytes");
  for (uint64_t i = 0; i < n; ++i) {
    const uint8_t* d = p + 16 + i * kMemoryDescriptor64Size;
    const uint64_t start = Qword(d), size = Qword(d + 8);
    if (start > 0xffffffffull || size > 0x100000000ull) return Fail(error, "damaged minidump: memory above 4 GB");
    if (!AddRange(static_cast<uint32_t>(start), size, offset, error)) return false;
    offset += size;
  }
  return true;
}

bool TMinidump::ReadException(const TStream& s, std::string* error) {
  if (s.size < kExceptionStreamSize) return Fail(error, "damaged minidump: ExceptionStream too short");
  const uint8_t* p = bytes_.data() + s.rva;
  exception_.threadId = Dword(p + kExceptionThreadId);
  exception_.code = Dword(p + kExceptionCode);
  exception_.flags = Dword(p + kExceptionFlags);
  exception_.address = static_cast<uint32_t>(Qword(p + kExceptionAddress));
  const uint32_t n = std::min(Dword(p + kExceptionParameterCount), kMaxExceptionParameters);
  for (uint32_t i = 0; i < n; ++i)
    exception_.parameters.push_back(static_cast<uint32_t>(Qword(p + kExceptionParameters + 8 * i)));
  if (Dword(p + kExceptionContextSize) > 0) {
    if (!ReadContext(Dword(p + kExceptionContextSize), Dword(p + kExceptionContextRva), &exception_.registers, error))
      return false;
    exception_.haveRegisters = true;
  }
  haveException_ = true;
  return true;
}

uint32_t TMinidump::Readable(uint32_t address, uint32_t max, const uint8_t** out) const {
  // The last range starting at or below address.
  auto it = std::upper_bound(ranges_.begin(), ranges_.end(), address,
                             [](uint32_t a, const TRange& r) { return a < r.address; });
  if (it == ranges_.begin()) return 0;
  --it;
  const uint32_t into = address - it->address;
  if (into >= it->size) return 0;
  *out = bytes_.data() + it->offset + into;
  return std::min(max, it->size - into);
}

bool TMinidump::ReadMemory(uint32_t address, void* buffer, uint32_t size) const {
  auto* out = static_cast<uint8_t*>(buffer);
  while (size > 0) {
    const uint8_t* from = nullptr;
    const uint32_t n = Readable(address, size, &from);
    if (n == 0) return false;
    std::memcpy(out, from, n);
    out += n;
    address += n;
    size -= n;
    if (size > 0 && address == 0) return false;  // wrapped
  }
  return true;
}

std::vector<std::pair<uint32_t, uint32_t>> TMinidump::MemoryRanges() const {
  std::vector<std::pair<uint32_t, uint32_t>> out;
  for (const TRange& r : ranges_) out.emplace_back(r.address, r.size);
  return out;
}

uint64_t TMinidump::CapturedBytes() const {
  uint64_t n = 0;
  for (const TRange& r : ranges_) n += r.size;
  return n;
}

}  // namespace kestrix
