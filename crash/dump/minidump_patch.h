// Mending a dump that dbghelp wrote from a thread of its own: the
// exception's thread gets the exception's context and, where the report
// copied it at the exception, its stack as it was then (unwinding and the
// handling since wrote over it); the writing thread leaves the thread list.
// Planned as edits of the file, so that a dump of any size is mended in place.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kestrix {

struct TDumpFileEdit {
  uint64_t offset = 0;  // at the file's end: appended
  std::vector<uint8_t> bytes;
};

// Reads size bytes at offset of the dump file, or at an address of the
// process; false when it cannot.
using TDumpFileRead = std::function<bool(uint64_t offset, void* buffer, size_t size)>;

struct TExceptionThreadFix {
  uint32_t exceptionThreadId = 0;
  uint32_t writerThreadId = 0;  // 0: none to drop
  uint32_t stackAddress = 0;    // the stack copy's address; empty copy: none
  std::vector<uint8_t> stack;
  // Set: the memory around every value on the threads' stacks that points
  // outside the dump's memory is added, read from the process (where the
  // writer leaves that out).
  TDumpFileRead readProcess;
};

// The memory around a value found on a stack: from 64 bytes before it to
// 192 after it, within its page.
constexpr uint32_t kReferencedBefore = 64, kReferencedAfter = 192;
// At most this much referenced memory is added.
constexpr uint32_t kMaxReferencedBytes = 8u << 20;

// The edits, in the order to apply them. False, with the reason, when the
// file is not a dump this can mend (no thread list, no exception stream).
bool PlanExceptionThreadFix(const TDumpFileRead& read, uint64_t fileSize, const TExceptionThreadFix& fix,
                            std::vector<TDumpFileEdit>* edits, std::string* error);

}  // namespace kestrix
