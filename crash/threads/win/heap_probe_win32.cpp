// The heap probe: a parked thread that locks and unlocks the heaps when
// asked. One round answers every request made before it began.
#include "crash/threads/win/heap_probe_win32.h"

#include "crash/threads/win/library_threads.h"

namespace kestrix {
namespace {

HANDLE g_probe = nullptr;
HANDLE g_request = nullptr;  // auto-reset: a round is wanted
volatile LONG g_requested = 0;
volatile LONG g_answered = 0;
volatile LONG g_stop = 0;

// The C runtime's heap (the one malloc and operator new use).
HANDLE RuntimeHeap() {
  using TGetHeapHandle = intptr_t(__cdecl*)();
  HMODULE msvcrt = GetModuleHandleA("msvcrt.dll");
  auto get = msvcrt ? reinterpret_cast<TGetHeapHandle>(GetProcAddress(msvcrt, "_get_heap_handle")) : nullptr;
  return get ? reinterpret_cast<HANDLE>(get()) : nullptr;
}

DWORD WINAPI ProbeThread(void*) {
  const HANDLE heaps[] = {GetProcessHeap(), RuntimeHeap()};
  for (;;) {
    WaitForSingleObject(g_request, INFINITE);
    if (g_stop) return 0;
    const LONG round = g_requested;
    for (HANDLE heap : heaps)
      if (heap && HeapLock(heap)) HeapUnlock(heap);
    InterlockedExchange(&g_answered, round);
  }
}

}  // namespace

bool StartHeapProbe() {
  if (g_probe) return true;
  g_request = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  if (!g_request) return false;
  DWORD id = 0;
  g_probe = CreateThread(nullptr, 16 * 1024, ProbeThread, nullptr, CREATE_SUSPENDED | STACK_SIZE_PARAM_IS_A_RESERVATION,
                         &id);
  if (!g_probe) {
    CloseHandle(g_request);
    g_request = nullptr;
    return false;
  }
  RegisterLibraryThread(id, "-");
  SetThreadPriority(g_probe, THREAD_PRIORITY_HIGHEST);
  ResumeThread(g_probe);
  return true;
}

void StopHeapProbe() {
  if (!g_probe) return;
  InterlockedExchange(&g_stop, 1);
  SetEvent(g_request);
  // The probe's end is waited for, so that it does not end in the middle of
  // the process's end. A probe stuck on a held heap stays; so does one that
  // needs the loader lock this thread holds.
  if (!HoldsLoaderLock() && WaitForSingleObject(g_probe, 2000) == WAIT_OBJECT_0) {
    UnregisterLibraryThread(GetThreadId(g_probe));
    CloseHandle(g_probe);
    CloseHandle(g_request);
  }
  g_probe = nullptr;
  g_request = nullptr;
}

bool IsHeapHeld(DWORD waitMs) {
  if (!g_probe || g_stop) return false;
  const LONG wanted = InterlockedIncrement(&g_requested);
  SetEvent(g_request);
  const DWORD start = GetTickCount();
  for (;;) {
    if (g_answered - wanted >= 0) return false;
    if (GetTickCount() - start >= waitMs) return true;
    Sleep(1);
  }
}

}  // namespace kestrix
