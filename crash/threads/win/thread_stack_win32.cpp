#include "crash/threads/win/thread_stack_win32.h"

namespace kestrix {

TThreadStackRange ThreadStackRange(HANDLE thread) {
  struct TBasicInformation {
    LONG exitStatus;
    void* teb;
    void* process;
    void* thread;
    ULONG_PTR affinity;
    LONG priority, basePriority;
  } info{};
  using TQuery = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);
  static const auto query = reinterpret_cast<TQuery>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryInformationThread")));
  if (!query || query(thread, 0, &info, sizeof info, nullptr) < 0 || !info.teb) return {};
  NT_TIB tib;
  SIZE_T got = 0;
  if (!ReadProcessMemory(GetCurrentProcess(), info.teb, &tib, sizeof tib, &got) || got != sizeof tib) return {};
  return {static_cast<uint32_t>(reinterpret_cast<uintptr_t>(tib.StackLimit)),
          static_cast<uint32_t>(reinterpret_cast<uintptr_t>(tib.StackBase))};
}

}  // namespace kestrix
