#include "crash/dump/win/minidump_writer_win32.h"

#include <dbghelp.h>

#include <atomic>
#include <cstdio>

#include "crash/base/win/scoped_handle.h"
#include "crash/base/win/system_library.h"
#include "crash/dump/minidump_patch.h"
#include "crash/exception/win/fault_conversion_win32.h"
#include "crash/threads/win/library_threads.h"

namespace kestrix {
namespace {

// One dump being written, shared by the caller and the writer thread; the
// last of the two to let go frees it (the caller may give up waiting).
struct TWriterJob {
  std::atomic<long> references{2};
  enum : long { kRunning, kFinished, kAbandoned };
  std::atomic<long> state{kRunning};
  std::string path;
  TScopedHandle file;
  TMiniDumpWriter writer = nullptr;
  DWORD type = 0;
  EXCEPTION_RECORD record{};
  CONTEXT context{};
  EXCEPTION_POINTERS pointers{};
  MINIDUMP_EXCEPTION_INFORMATION exception{};
  std::string comment;
  MINIDUMP_USER_STREAM stream{};
  MINIDUMP_USER_STREAM_INFORMATION streams{};
  // dbghelp's symbol handler for the process, made without loading any
  // module's symbols (MiniDumpWriteDump would otherwise make one that loads
  // them all: seconds for a program with its debug information).
  BOOL(WINAPI* symInitialize)(HANDLE, const char*, BOOL) = nullptr;
  BOOL(WINAPI* symCleanup)(HANDLE) = nullptr;
  DWORD writerThreadId = 0;
  BOOL written = FALSE;
  DWORD error = 0;
  // A fault the writer did not handle itself.
  bool faulted = false;
  DWORD faultCode = 0;
  uintptr_t faultAddress = 0;
  uintptr_t recoveryEsp = 0;
};

void Release(TWriterJob* job) {
  if (--job->references == 0) delete job;
}

thread_local TWriterJob* t_job = nullptr;

// The writer thread's end, normal or after a fault: an abandoned dump is
// removed once its file is closed.
void FinishWriterThread(TWriterJob* job) {
  UnregisterLibraryThread(GetCurrentThreadId());
  long running = TWriterJob::kRunning;
  if (!job->state.compare_exchange_strong(running, TWriterJob::kFinished)) {
    job->file.Reset();
    DeleteFileA(job->path.c_str());
  }
  Release(job);
}

// Where a faulting writer continues: on its own stack below the guard's
// frame, never returning.
void LeaveFaultedWriter() {
  FinishWriterThread(t_job);
  ExitThread(1);
}

// An exception that left the writer unhandled (its own handlers come
// before this frame): the writer is left, the dump is lost.
EXCEPTION_DISPOSITION __cdecl WriterFaultHandler(EXCEPTION_RECORD* record, void*, CONTEXT* context, void*) {
  TWriterJob* job = t_job;
  if (!job || job->faulted || (record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND)))
    return ExceptionContinueSearch;
  job->faulted = true;
  job->faultCode = record->ExceptionCode;
  job->faultAddress = reinterpret_cast<uintptr_t>(record->ExceptionAddress);
  context->Eip = reinterpret_cast<DWORD>(&LeaveFaultedWriter);
  context->Esp = static_cast<DWORD>(job->recoveryEsp - 64) & ~15u;
  return ExceptionContinueExecution;
}

// Leaves the writing thread out of the dump (it would carry dbghelp's own
// frames and its whole stack); everything else as dbghelp has it.
BOOL CALLBACK WriterCallback(void* parameter, MINIDUMP_CALLBACK_INPUT* in, MINIDUMP_CALLBACK_OUTPUT* out) {
  const DWORD writer = *static_cast<const DWORD*>(parameter);
  switch (in->CallbackType) {
    case IncludeThreadCallback: return in->IncludeThread.ThreadId != writer;
    case ThreadCallback: return in->Thread.ThreadId != writer;
    case ThreadExCallback: return in->ThreadEx.ThreadId != writer;
    case IncludeModuleCallback:
    case ModuleCallback: return TRUE;
    case CancelCallback:
      out->Cancel = FALSE;
      out->CheckCancel = FALSE;
      return TRUE;
    default: return FALSE;  // no memory, I/O or regions of our own
  }
}

// An exception registration of this thread, made by hand.
struct TSehFrame {
  TSehFrame* next;
  void* handler;
};

__attribute__((noinline)) void RunWriter(TWriterJob* job) {
  TSehFrame frame{nullptr, reinterpret_cast<void*>(&WriterFaultHandler)};
  asm volatile("movl %%fs:0, %0" : "=r"(frame.next));
  asm volatile("movl %0, %%fs:0" : : "r"(&frame) : "memory");
  asm volatile("movl %%esp, %0" : "=r"(job->recoveryEsp));
  MINIDUMP_CALLBACK_INFORMATION callback{WriterCallback, &job->writerThreadId};
  // Only where the program has none of its own (that one stays as it is).
  const bool ownSymbols = job->symInitialize && job->symInitialize(GetCurrentProcess(), nullptr, FALSE);
  try {
    job->written = job->writer(GetCurrentProcess(), GetCurrentProcessId(), job->file.Get(), job->type, &job->exception,
                               job->comment.empty() ? nullptr : &job->streams, &callback);
    job->error = job->written ? 0 : GetLastError();
  } catch (const EExternal& fault) {
    // A fault in code built for fault conversion (a writer of the program's).
    job->faulted = true;
    job->faultCode = fault.Record().ExceptionCode;
    job->faultAddress = reinterpret_cast<uintptr_t>(fault.Record().ExceptionAddress);
  } catch (...) {
    job->faulted = true;
  }
  if (ownSymbols && job->symCleanup) job->symCleanup(GetCurrentProcess());
  asm volatile("movl %0, %%fs:0" : : "r"(frame.next) : "memory");
}

DWORD WINAPI WriterThread(void* parameter) {
  auto* job = static_cast<TWriterJob*>(parameter);
  t_job = job;
  job->writerThreadId = GetCurrentThreadId();
  RegisterLibraryThread(GetCurrentThreadId(), "minidump writer");
  RunWriter(job);
  FinishWriterThread(job);
  return 0;
}

DWORD DumpTypeOf(TDumpKind kind) {
  switch (kind) {
    case dkReferenced: return MiniDumpWithIndirectlyReferencedMemory;
    case dkFull: return MiniDumpWithFullMemory;
    default: return MiniDumpNormal;
  }
}

std::string SystemMessage(DWORD error) {
  char text[256] = {};
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, text,
                           sizeof text, nullptr);
  while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == ' ' || text[n - 1] == '.')) --n;
  char code[32];
  std::snprintf(code, sizeof code, "error %lu", static_cast<unsigned long>(error));
  return n ? std::string(text, n) + " (" + code + ")" : std::string(code);
}

std::string Hex(uintptr_t v) {
  char s[16];
  std::snprintf(s, sizeof s, "%08x", static_cast<unsigned>(v));
  return s;
}

// The dump as dbghelp wrote it, mended in place (a failure leaves it as it
// is: still a dump, with the exception in its own stream).
void MendDump(HANDLE file, const TMinidumpRequest& r, DWORD writerThreadId) {
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file, &size)) return;
  const TDumpFileRead read = [file](uint64_t offset, void* buffer, size_t count) {
    LARGE_INTEGER at{};
    at.QuadPart = static_cast<LONGLONG>(offset);
    DWORD got = 0;
    return SetFilePointerEx(file, at, nullptr, FILE_BEGIN) &&
           ReadFile(file, buffer, static_cast<DWORD>(count), &got, nullptr) && got == count;
  };
  TExceptionThreadFix fix;
  fix.exceptionThreadId = r.threadId;
  fix.writerThreadId = writerThreadId;
  fix.stackAddress = r.stackAddress;
  fix.stack = r.stack;
  if (r.kind == dkReferenced)
    fix.readProcess = [](uint64_t address, void* buffer, size_t count) {
      SIZE_T got = 0;
      return ReadProcessMemory(GetCurrentProcess(), reinterpret_cast<const void*>(static_cast<uintptr_t>(address)),
                               buffer, count, &got) &&
             got == count;
    };
  std::vector<TDumpFileEdit> edits;
  std::string error;
  if (!PlanExceptionThreadFix(read, static_cast<uint64_t>(size.QuadPart), fix, &edits, &error)) return;
  for (const TDumpFileEdit& e : edits) {
    LARGE_INTEGER at{};
    at.QuadPart = static_cast<LONGLONG>(e.offset);
    DWORD written = 0;
    if (!SetFilePointerEx(file, at, nullptr, FILE_BEGIN) ||
        !WriteFile(file, e.bytes.data(), static_cast<DWORD>(e.bytes.size()), &written, nullptr))
      return;
  }
}

}  // namespace

DWORD DumpDeadlineMs(TDumpKind kind) { return kind == dkFull ? 120000 : 15000; }

bool WriteMinidump(const TMinidumpRequest& r, std::string* failure) {
  TMiniDumpWriter writer = r.writer;
  decltype(TWriterJob::symInitialize) symInitialize = nullptr;
  decltype(TWriterJob::symCleanup) symCleanup = nullptr;
  if (!writer) {
    writer = SystemFunctionAs<TMiniDumpWriter>("dbghelp.dll", "MiniDumpWriteDump");
    symInitialize = SystemFunctionAs<decltype(symInitialize)>("dbghelp.dll", "SymInitialize");
    symCleanup = SystemFunctionAs<decltype(symCleanup)>("dbghelp.dll", "SymCleanup");
    if (!writer) {
      *failure = GetModuleHandleA("dbghelp.dll") ? "dbghelp.dll has no MiniDumpWriteDump"
                                                 : "dbghelp.dll could not be loaded";
      return false;
    }
  }
  // Not shared for deleting: other processes of the program clear the
  // temporary folder at their own exceptions. A writer given up on deletes
  // its file itself when it ends.
  auto create = [&r] {
    return CreateFileA(r.path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
  };
  TScopedHandle file(create());
  if (!file && GetLastError() == ERROR_PATH_NOT_FOUND) {
    // Its folder, removed meanwhile by another process's clearing of it.
    const size_t slash = r.path.find_last_of("\\/");
    if (slash != std::string::npos) CreateDirectoryA(r.path.substr(0, slash).c_str(), nullptr);
    file = TScopedHandle(create());
  }
  if (!file) {
    *failure = "the file " + r.path + " could not be created: " + SystemMessage(GetLastError());
    return false;
  }
  auto* job = new TWriterJob;
  job->path = r.path;
  job->file = std::move(file);
  job->writer = writer;
  job->symInitialize = symInitialize;
  job->symCleanup = symCleanup;
  job->type = DumpTypeOf(r.kind);
  job->record = r.record;
  job->context = r.context;
  job->pointers = {&job->record, &job->context};
  job->exception = {r.threadId, &job->pointers, FALSE};
  job->comment = r.comment;
  job->stream = {CommentStreamA, static_cast<ULONG>(job->comment.size() + 1), job->comment.data()};
  job->streams = {1, &job->stream};

  const TScopedHandle thread(CreateThread(nullptr, 0, WriterThread, job, 0, nullptr));
  if (!thread) {
    *failure = "no thread for the writer: " + SystemMessage(GetLastError());
    job->references = 1;
    job->file.Reset();
    DeleteFileA(r.path.c_str());
    Release(job);
    return false;
  }
  const DWORD deadline = r.deadlineMs ? r.deadlineMs : DumpDeadlineMs(r.kind);
  WaitForSingleObject(thread.Get(), deadline);
  long running = TWriterJob::kRunning;
  if (job->state.compare_exchange_strong(running, TWriterJob::kAbandoned)) {
    // Still writing: left to itself, the file removed when it ends.
    DeleteFileA(r.path.c_str());
    char text[64];
    std::snprintf(text, sizeof text, "the writer did not finish within %lu ms", static_cast<unsigned long>(deadline));
    *failure = text;
    Release(job);
    return false;
  }
  bool ok = job->written && !job->faulted;
  if (job->faulted) {
    *failure = job->faultCode ? "the writer failed with exception " + Hex(job->faultCode) + " at address " +
                                    Hex(job->faultAddress)
                              : std::string("the writer failed with a C++ exception");
  } else if (!job->written) {
    *failure = "MiniDumpWriteDump failed: " + SystemMessage(job->error);
  }
  if (ok) MendDump(job->file.Get(), r, job->writerThreadId);
  job->file.Reset();
  if (!ok) DeleteFileA(r.path.c_str());
  Release(job);
  return ok;
}

}  // namespace kestrix
