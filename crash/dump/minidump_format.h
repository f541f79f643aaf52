// The minidump file format as far as the library writes and reads it: the
// header, the stream directory and the streams of a 32-bit x86 process
// (threads, modules, memory, the exception, the comment), with their byte
// layouts, all little-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kestrix::minidump {

constexpr uint32_t kSignature = 0x504d444d;  // "MDMP"
constexpr uint16_t kVersion = 0xa793;        // low word of the header's version

// Stream types.
enum : uint32_t {
  kThreadListStream = 3,
  kModuleListStream = 4,
  kMemoryListStream = 5,
  kExceptionStream = 6,
  kSystemInfoStream = 7,
  kThreadExListStream = 8,
  kMemory64ListStream = 9,
  kCommentStreamA = 10,
  kCommentStreamW = 11,
  kHandleDataStream = 12,
  kUnloadedModuleListStream = 14,
  kMiscInfoStream = 15,
  kMemoryInfoListStream = 16,
  kThreadInfoListStream = 17,
};

// Sizes of the fixed records.
constexpr size_t kHeaderSize = 32;         // signature, version, streams, directory rva, checksum, time, flags
constexpr size_t kDirectoryEntrySize = 12;  // type, data size, rva
constexpr size_t kThreadSize = 48;
constexpr size_t kModuleSize = 108;
constexpr size_t kExceptionStreamSize = 168;
constexpr size_t kMemoryDescriptorSize = 16;    // start (64 bits), size, rva
constexpr size_t kMemoryDescriptor64Size = 16;  // start, size (64 bits each)
constexpr uint32_t kMaxExceptionParameters = 15;

// Offsets in a thread record.
constexpr size_t kThreadId = 0, kThreadSuspendCount = 4, kThreadPriorityClass = 8, kThreadPriority = 12,
                 kThreadTeb = 16, kThreadStackStart = 24, kThreadStackSize = 32, kThreadStackRva = 36,
                 kThreadContextSize = 40, kThreadContextRva = 44;
// Offsets in a module record.
constexpr size_t kModuleBase = 0, kModuleImageSize = 8, kModuleCheckSum = 12, kModuleTimeStamp = 16,
                 kModuleNameRva = 20, kModuleVersion = 24;
// Offsets in the version block of a module record (VS_FIXEDFILEINFO).
constexpr size_t kVersionSignature = 0, kVersionFileMS = 8, kVersionFileLS = 12;
constexpr uint32_t kVersionBlockSignature = 0xfeef04bd;
// Offsets in the exception stream.
constexpr size_t kExceptionThreadId = 0, kExceptionCode = 8, kExceptionFlags = 12, kExceptionAddress = 24,
                 kExceptionParameterCount = 32, kExceptionParameters = 40, kExceptionContextSize = 160,
                 kExceptionContextRva = 164;
// The misc info stream: its size, flags and the process id (flag 1).
constexpr size_t kMiscFlags = 4, kMiscProcessId = 8;
constexpr uint32_t kMiscProcessIdValid = 1;

// The x86 thread context (CONTEXT of a 32-bit process): 716 bytes; the
// integer and control registers end at offset 204.
constexpr size_t kContextSize = 716;
constexpr size_t kContextIntegerEnd = 204;
constexpr size_t kContextFlags = 0, kContextGs = 140, kContextFs = 144, kContextEs = 148, kContextDs = 152,
                 kContextEdi = 156, kContextEsi = 160, kContextEbx = 164, kContextEdx = 168, kContextEcx = 172,
                 kContextEax = 176, kContextEbp = 180, kContextEip = 184, kContextCs = 188, kContextEFlags = 192,
                 kContextEsp = 196, kContextSs = 200;

// The exception codes of dumps of reports without an operating-system
// exception: a C++ exception ("GCC", as GCC's own unwinder raises them) and
// a frozen program ("KXFZ").
constexpr uint32_t kCppExceptionCode = 0x20474343;
constexpr uint32_t kFreezeCode = 0x5a46584b;

// The system info stream's processor architecture (first 16 bits).
constexpr uint16_t kArchitectureX86 = 0;

// The name of a stream type ("ThreadListStream"), or "stream <n>".
std::string StreamTypeName(uint32_t type);

}  // namespace kestrix::minidump
