#include "crash/exception/win/thread_fault_state_win32.h"

#include <intrin.h>

#include <algorithm>

#include "crash/exception/fault_policy.h"

namespace kestrix::fault_state {
namespace {

constexpr uint32_t kPage = 4096;
// Room kept below a stack for an overflow: the unwinder, a catch point and
// the wait for the handling thread fit in it comfortably.
constexpr uint32_t kGuarantee = 64 * 1024;
constexpr DWORD kTebTlsSlots = 0xE10;
constexpr DWORD kTebDeallocationStack = 0xE0C;

struct TPooled {
  volatile LONG owner = 0;  // thread id, 0 when free
  TFaultBlock block{};
};

// Every thread's fault state lives in two thread-local slots; this is what
// they share.
struct TFaultStateShared {
  // Allocated by Initialize (start-up), never freed.
  DWORD stateSlot = TLS_OUT_OF_INDEXES;
  DWORD blockSlot = TLS_OUT_OF_INDEXES;
  // Set by SetArmNewThreads; read in every new thread.
  volatile bool armNewThreads = false;
  // Fault blocks taken by threads (owner: the thread's id), before fresh
  // pages are allocated.
  TPooled pool[16] = {};
};
// Constant-initialized: the slots are valid before any constructor runs.
constinit TFaultStateShared g_shared;

uintptr_t ReadSlot(DWORD slot) {
  if (slot < 64) return __readfsdword(kTebTlsSlots + slot * 4);
  if (slot == TLS_OUT_OF_INDEXES) return 0;
  const DWORD error = GetLastError();
  const uintptr_t value = reinterpret_cast<uintptr_t>(TlsGetValue(slot));
  SetLastError(error);
  return value;
}

void WriteSlot(DWORD slot, uintptr_t value) {
  if (slot < 64) {
    __writefsdword(kTebTlsSlots + slot * 4, value);
  } else if (slot != TLS_OUT_OF_INDEXES) {
    const DWORD error = GetLastError();
    TlsSetValue(slot, reinterpret_cast<void*>(value));
    SetLastError(error);
  }
}

uint32_t CurrentStackPointer() {
  return reinterpret_cast<uint32_t>(__builtin_frame_address(0));
}

uint32_t GuaranteeFor(const TStackBounds& b) {
  const uint32_t size = b.top - b.end;
  const uint32_t g = std::min(kGuarantee, (size / 8) & ~(kPage - 1));
  return g >= kMinStackRoomToConvert ? g : 0;
}

// A guard page at `page` on a committed stack; nothing to do where the
// system commits the stack as it grows (its own guard moves down then).
bool PlaceGuardPage(uint32_t page) {
  if (page + 2 * kPage > CurrentStackPointer()) return false;
  MEMORY_BASIC_INFORMATION info;
  if (!VirtualQuery(reinterpret_cast<void*>(page), &info, sizeof info)) return false;
  if (info.State != MEM_COMMIT || (info.Protect & PAGE_GUARD)) return true;
  DWORD old;
  return VirtualProtect(reinterpret_cast<void*>(page), kPage, PAGE_READWRITE | PAGE_GUARD, &old) != 0;
}

void ReleaseBlock() {
  auto* block = reinterpret_cast<TFaultBlock*>(ReadSlot(g_shared.blockSlot));
  if (!block) return;
  WriteSlot(g_shared.blockSlot, 0);
  for (TPooled& p : g_shared.pool)
    if (&p.block == block) {
      InterlockedExchange(&p.owner, 0);
      return;
    }
  VirtualFree(block, 0, MEM_RELEASE);
}

void NTAPI FaultStateTlsCallback(PVOID, DWORD reason, PVOID) {
  if (reason == DLL_THREAD_ATTACH && g_shared.armNewThreads) ArmStackGuard();
  if (reason == DLL_THREAD_DETACH) ReleaseBlock();
}

}  // namespace

void Initialize() {
  if (g_shared.stateSlot == TLS_OUT_OF_INDEXES) g_shared.stateSlot = TlsAlloc();
  if (g_shared.blockSlot == TLS_OUT_OF_INDEXES) g_shared.blockSlot = TlsAlloc();
}

uint32_t Read() { return static_cast<uint32_t>(ReadSlot(g_shared.stateSlot)); }
void Write(uint32_t state) { WriteSlot(g_shared.stateSlot, state); }

TFaultBlock* Block() {
  if (g_shared.blockSlot == TLS_OUT_OF_INDEXES) return nullptr;
  if (auto* block = reinterpret_cast<TFaultBlock*>(ReadSlot(g_shared.blockSlot))) return block;
  const LONG self = static_cast<LONG>(GetCurrentThreadId());
  TFaultBlock* block = nullptr;
  for (TPooled& p : g_shared.pool)
    if (InterlockedCompareExchange(&p.owner, self, 0) == 0) {
      block = &p.block;
      break;
    }
  if (!block)
    block = static_cast<TFaultBlock*>(VirtualAlloc(nullptr, sizeof(TFaultBlock), MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
  if (block) WriteSlot(g_shared.blockSlot, reinterpret_cast<uintptr_t>(block));
  return block;
}

TStackBounds StackBounds() {
  auto* teb = reinterpret_cast<const uint8_t*>(NtCurrentTeb());
  const uint32_t deallocation = *reinterpret_cast<const uint32_t*>(teb + kTebDeallocationStack);
  return {deallocation + kPage, reinterpret_cast<uint32_t>(reinterpret_cast<const NT_TIB*>(teb)->StackBase)};
}

void ArmStackGuard() {
  const TStackBounds b = StackBounds();
  const uint32_t g = GuaranteeFor(b);
  if (!g) return;
  ULONG size = g;
  SetThreadStackGuarantee(&size);
  PlaceGuardPage(b.end + g + kPage);
}

void RestoreStackGuard() {
  const TStackBounds b = StackBounds();
  const uint32_t g = GuaranteeFor(b);
  if (!g || PlaceGuardPage(b.end + g + kPage)) Write(Read() & ~kGuardSpent);
}

void SetArmNewThreads(bool on) { g_shared.armNewThreads = on; }

}  // namespace kestrix::fault_state

// Runs in every thread of the process as it starts and ends.
extern "C" __attribute__((section(".CRT$XLK"), used))
PIMAGE_TLS_CALLBACK kestrix_fault_state_tls_callback = kestrix::fault_state::FaultStateTlsCallback;
