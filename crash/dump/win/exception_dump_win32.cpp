#include "crash/dump/win/exception_dump_win32.h"

#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <vector>

#include "crash/base/win/critical_section.h"
#include "crash/base/win/scoped_handle.h"
#include "crash/dump/minidump_format.h"
#include "crash/dump/win/minidump_writer_win32.h"
#include "crash/exception/win/fault_conversion_win32.h"
#include "crash/threads/win/library_threads.h"

namespace kestrix {
namespace {

// The dumps of the latest exceptions. Written by the handling thread
// (WriteExceptionDump), read by the send and dialog threads; guarded by lock.
struct TDumpState {
  TCriticalSectionLock lock;
  struct TEntry {
    KXPtr<IKXException> exception;  // held, so that its address is not reused
    std::string file;               // empty: it could not be written
    // Open for reading only, so that no other process of the program
    // deletes or replaces it while it waits to be copied or sent.
    std::shared_ptr<TScopedHandle> guard;
  };
  std::vector<TEntry> entries;  // the newest last, at most kKept
  unsigned written = 0;         // dumps written by this process
  static constexpr size_t kKept = 8;
};

TDumpState& DumpState() {
  static TDumpState* state = new TDumpState;  // leaked: outlives every report
  return *state;
}

// The exception as the system raised it, and the context of its thread:
// the fault's own record where the exception object holds one; else the
// code the object stands for, or the C++ exception code, at the throw site.
void ExceptionRecordOf(TIKXException* e, EXCEPTION_RECORD& record, CONTEXT& context) {
  record = {};
  context = {};
  bool haveRecord = false;
  if (const TExceptionObjectInfo* info = e->ExceptionObject(); info && info->object) {
    try {
      std::rethrow_exception(info->object);
    } catch (const EExternal& fault) {
      record = fault.Record();
      record.ExceptionRecord = nullptr;
      haveRecord = true;
    } catch (...) {
    }
    if (!haveRecord) record.ExceptionCode = info->systemCode;
  }
  if (!haveRecord) {
    if (!record.ExceptionCode)
      record.ExceptionCode = e->ExceptionKind() == etFreeze ? minidump::kFreezeCode : minidump::kCppExceptionCode;
    record.ExceptionAddress = reinterpret_cast<void*>(e->ExceptionAddress());
  }
  if (const CONTEXT* c = e->Context()) {
    context = *c;
  } else {
    // The throw site as the report has it: its address and its frame.
    context.ContextFlags = CONTEXT_CONTROL | CONTEXT_INTEGER;
    context.Eip = e->ExceptionAddress();
    context.Esp = e->Creation().stackPointer;
    context.Ebp = e->Creation().framePointer;
  }
}

// The entry of the exception's dump: false while there is none (not yet
// written, or never asked for).
bool FindDump(TIKXException* e, std::string* file) {
  TDumpState& s = DumpState();
  std::lock_guard<TCriticalSectionLock> hold(s.lock);
  for (const TDumpState::TEntry& entry : s.entries)
    if (entry.exception.get() == static_cast<IKXException*>(e)) {
      *file = entry.file;
      return true;
    }
  return false;
}

void AddEntry(TIKXException* e, const std::string& file) {
  auto guard = std::make_shared<TScopedHandle>(
      file.empty() ? INVALID_HANDLE_VALUE
                   : CreateFileA(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
  TDumpState& s = DumpState();
  std::lock_guard<TCriticalSectionLock> hold(s.lock);
  if (s.entries.size() >= TDumpState::kKept) s.entries.erase(s.entries.begin());
  s.entries.push_back({KXPtr<IKXException>(static_cast<IKXException*>(e)), file, std::move(guard)});
}

bool DumpWanted(TIKXException* e) { return DumpKindOf(e->DumpKind()) != dkNone && e->CreateBugReport(); }

}  // namespace

void WriteExceptionDump(TIKXException* e, const std::string& folder) {
  std::string known;
  if (!DumpWanted(e) || FindDump(e, &known)) return;
  const TDumpKind kind = DumpKindOf(e->DumpKind());
  TMinidumpRequest r;
  r.kind = kind;
  r.threadId = e->FaultingThreadId();
  ExceptionRecordOf(e, r.record, r.context);
  r.comment = e->ReportText(true);
  // The stack as the report copied it at the exception.
  if (const TCapturedStack* cs = e->Creation().preparedStack; cs && cs->wordCount > 0 && cs->esp) {
    r.stackAddress = cs->esp;
    r.stack.resize(static_cast<size_t>(cs->wordCount) * 4);
    std::memcpy(r.stack.data(), cs->words, r.stack.size());
  }
  std::string failure;
  bool written = false;
  if (folder.empty()) {
    failure = "no temporary folder to write it to";
  } else {
    TDumpState& s = DumpState();
    {
      std::lock_guard<TCriticalSectionLock> hold(s.lock);
      // The folder is shared by every process of the program.
      r.path = folder + "crash" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++s.written) + ".dmp";
    }
    written = WriteMinidump(r, &failure);
  }
  if (!written) e->ReportHeader()->Add(kDumpHeaderItem, DumpFailureText(failure));
  AddEntry(e, written ? r.path : std::string());
}

std::string ExceptionDumpFile(TIKXException* e) {
  std::string file;
  FindDump(e, &file);
  return !file.empty() && GetFileAttributesA(file.c_str()) != INVALID_FILE_ATTRIBUTES ? file : std::string();
}

std::string ExceptionDumpFileForSending(TIKXException* e, const std::string& folder) {
  std::string file;
  if (DumpWanted(e) && !FindDump(e, &file)) {
    if (GetCurrentThreadId() == HandlingThreadId()) {
      WriteExceptionDump(e, folder);
    } else {
      // Polled: the handling thread adds the entry when its writer is done
      // or given up.
      const DWORD until = GetTickCount() + DumpDeadlineMs(DumpKindOf(e->DumpKind())) + 5000;
      while (!FindDump(e, &file) && static_cast<LONG>(until - GetTickCount()) > 0) Sleep(20);
    }
  }
  return ExceptionDumpFile(e);
}

void PlaceDumpBeside(TIKXException* e, const std::string& reportPath, int count) {
  const std::string file = ExceptionDumpFile(e);
  if (file.empty()) return;
  const std::string beside = DumpPathBeside(reportPath);
  if (!DumpWantedBeside(count, GetFileAttributesA(beside.c_str()) != INVALID_FILE_ATTRIBUTES)) return;
  CopyFileA(file.c_str(), beside.c_str(), FALSE);
}

}  // namespace kestrix
