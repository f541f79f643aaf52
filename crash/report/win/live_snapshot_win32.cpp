#include "crash/report/win/live_snapshot_win32.h"

#include <tlhelp32.h>

#include <algorithm>
#include <cstring>

#include "crash/base/win/scoped_handle.h"
#include "crash/report/win/code_locations_win32.h"
#include "crash/settings/win/settings_object.h"
#include "crash/threads/win/thread_stack_win32.h"
#include "crash/threads/win/thread_table_win32.h"

namespace kestrix {
namespace {

// The most of a thread's stack a snapshot copies.
constexpr uint32_t kMaxStackCopy = 512 * 1024;

TSnapshotRegisters RegistersOf(const CONTEXT& c) {
  TSnapshotRegisters r;
  r.eax = c.Eax, r.ebx = c.Ebx, r.ecx = c.Ecx, r.edx = c.Edx, r.esi = c.Esi, r.edi = c.Edi;
  r.ebp = c.Ebp, r.esp = c.Esp, r.eip = c.Eip, r.eflags = c.EFlags;
  r.cs = static_cast<uint16_t>(c.SegCs), r.ds = static_cast<uint16_t>(c.SegDs);
  r.es = static_cast<uint16_t>(c.SegEs), r.fs = static_cast<uint16_t>(c.SegFs);
  r.gs = static_cast<uint16_t>(c.SegGs), r.ss = static_cast<uint16_t>(c.SegSs);
  return r;
}

// The priority relative to normal; 0 when it cannot be had.
int RelativePriority(HANDLE thread) {
  const int priority = GetThreadPriority(thread);
  return priority == THREAD_PRIORITY_ERROR_RETURN ? 0 : priority - THREAD_PRIORITY_NORMAL;
}

}  // namespace

TLiveSnapshot::TLiveSnapshot(const std::vector<uint32_t>& ids, uint32_t exceptionThreadId)
    : processId_(GetCurrentProcessId()) {
  // One buffer for every copy, allocated before any thread is held.
  std::vector<uint8_t> scratch(kMaxStackCopy);
  for (uint32_t id : ids)
    if (id && !FindSnapshotThread(*this, id)) Take(id, id != exceptionThreadId, scratch);
  // The creators named by the threads taken, for their titles.
  for (size_t i = 0, n = threads_.size(); i < n; ++i) {
    const uint32_t creator = threads_[i].creatorThreadId;
    if (creator && !FindSnapshotThread(*this, creator)) Take(creator, false, scratch);
  }
}

void TLiveSnapshot::Take(uint32_t id, bool copyStack, std::vector<uint8_t>& scratch) {
  TSnapshotThread t;
  t.id = id;
  TThreadInfo info;
  if (LookupThread(id, info, 50)) {
    t.registered = info.registered;
    t.name = info.name;
    t.className = info.className;
    t.creatorAddress = info.creatorAddress;
    t.creatorThreadId = info.creatorThreadId;
  }
  if (id == GetCurrentThreadId()) {
    t.priority = RelativePriority(GetCurrentThread());
    threads_.push_back(std::move(t));
    return;
  }
  TScopedHandle thread(
      OpenThread(THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT | THREAD_QUERY_INFORMATION, FALSE, id));
  if (!thread) {
    threads_.push_back(std::move(t));
    return;
  }
  const HANDLE h = thread.Get();
  t.priority = RelativePriority(h);
  const TThreadStackRange range = ThreadStackRange(h);
  t.stackLimit = range.limit;
  t.stackBase = range.base;
  uint32_t copied = 0;
  // While the thread is held nothing allocates or takes a lock.
  const DWORD previous = SuspendThread(h);
  if (previous != static_cast<DWORD>(-1)) {
    t.suspended = previous > 0;
    CONTEXT ctx{};
    ctx.ContextFlags = CONTEXT_CONTROL | CONTEXT_INTEGER | CONTEXT_SEGMENTS;
    if (GetThreadContext(h, &ctx)) {
      t.haveRegisters = true;
      t.registers = RegistersOf(ctx);
      if (copyStack && range.base > ctx.Esp) {
        copied = std::min<uint32_t>(range.base - ctx.Esp, kMaxStackCopy);
        SIZE_T got = 0;
        if (!ReadProcessMemory(GetCurrentProcess(), reinterpret_cast<const void*>(static_cast<uintptr_t>(ctx.Esp)),
                               scratch.data(), copied, &got) ||
            got != copied)
          copied = 0;
      }
    }
    ResumeThread(h);
  }
  // Closed only now, with the thread running again.
  thread.Reset();
  if (copied > 0) stacks_.push_back({id, t.registers.esp, std::vector<uint8_t>(scratch.begin(), scratch.begin() + copied)});
  threads_.push_back(std::move(t));
}

const std::vector<uint8_t>* TLiveSnapshot::StackCopy(uint32_t threadId) const {
  for (const TStackCopy& s : stacks_)
    if (s.threadId == threadId) return &s.bytes;
  return nullptr;
}

bool TLiveSnapshot::ReadMemory(uint32_t address, void* buffer, uint32_t size) const {
  for (const TStackCopy& s : stacks_)
    if (address >= s.start && address - s.start <= s.bytes.size() && size <= s.bytes.size() - (address - s.start)) {
      std::memcpy(buffer, s.bytes.data() + (address - s.start), size);
      return true;
    }
  return SafeRead(reinterpret_cast<const void*>(static_cast<uintptr_t>(address)), buffer, size);
}

const std::vector<TSnapshotModule>& TLiveSnapshot::Modules() const {
  if (modulesListed_) return modules_;
  modulesListed_ = true;
  const TScopedHandle list(CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, 0));
  if (!list) return modules_;
  MODULEENTRY32 m{};
  m.dwSize = sizeof m;
  for (BOOL ok = Module32First(list.Get(), &m); ok; ok = Module32Next(list.Get(), &m)) {
    TSnapshotModule module;
    module.base = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(m.modBaseAddr));
    module.size = m.modBaseSize;
    module.path = m.szExePath;
    ModuleFileVersion(m.hModule, module.versionMS, module.versionLS);
    IMAGE_DOS_HEADER dos;
    IMAGE_NT_HEADERS32 nt;
    if (ReadMemory(module.base, &dos, sizeof dos) && dos.e_magic == IMAGE_DOS_SIGNATURE &&
        ReadMemory(module.base + static_cast<uint32_t>(dos.e_lfanew), &nt, sizeof nt) &&
        nt.Signature == IMAGE_NT_SIGNATURE) {
      module.timeStamp = nt.FileHeader.TimeDateStamp;
      module.checkSum = nt.OptionalHeader.CheckSum;
    }
    modules_.push_back(std::move(module));
  }
  return modules_;
}

}  // namespace kestrix
