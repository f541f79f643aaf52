// Writing a minidump of the own process through dbghelp's MiniDumpWriteDump
// (loaded when first needed), from a thread of its own with a deadline: a
// writer that faults or hangs costs the dump, never the report or the
// process's end.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "crash/dump/dump_file.h"

namespace kestrix {

// The function that writes the dump; MiniDumpWriteDump's signature, the
// pointers as void* (they are dbghelp's structures).
using TMiniDumpWriter = BOOL(WINAPI*)(HANDLE process, DWORD processId, HANDLE file, DWORD type,
                                       void* exceptionParam, void* userStreams, void* callback);

struct TMinidumpRequest {
  std::string path;  // the dump file; replaced when it exists
  TDumpKind kind = dkStacks;
  DWORD threadId = 0;  // the exception's thread
  EXCEPTION_RECORD record{};
  CONTEXT context{};
  std::string comment;  // the report, stored as the ANSI comment stream
  // The exception thread's stack as copied at the exception (from
  // stackAddress on); empty: none.
  uint32_t stackAddress = 0;
  std::vector<uint8_t> stack;
  DWORD deadlineMs = 0;  // 0: the kind's own (see DumpDeadlineMs)
  // Null: dbghelp's MiniDumpWriteDump. Tests put a failing one here.
  TMiniDumpWriter writer = nullptr;
};

// Milliseconds a dump of that kind may take before it is given up.
DWORD DumpDeadlineMs(TDumpKind kind);

// Writes the dump, then mends it (TExceptionThreadFix): the exception's
// thread with its context and stack, without the writer's thread. False, with why there is none in `failure` ("dbghelp.dll
// could not be loaded ...", "the disk is full ...", "the writer faulted ...",
// "the writer did not finish within 15 s"), and no file left behind.
bool WriteMinidump(const TMinidumpRequest& request, std::string* failure);

}  // namespace kestrix
