// The heap probe: a parked thread that locks and unlocks the heaps when
// asked. One round answers every request made before it began.
#include "crash/threads/win/heap_probe_win32.h"

#include <type_traits>
#include <utility>

#include "crash/base/win/scoped_handle.h"
#include "crash/threads/win/library_threads.h"

namespace kestrix {
namespace {

// The probe's state. Constant-initialized and never destroyed: IsHeapHeld
// runs while a heap may be held, where nothing may be allocated.
struct THeapProbeState {
  // Written by StartHeapProbe, cleared by StopHeapProbe (which closes them
  // when the probe has ended).
  HANDLE probe = nullptr;
  HANDLE request = nullptr;  // auto-reset: a round is wanted
  // Counted up by IsHeapHeld for each question.
  volatile LONG requested = 0;
  // Written by the probe thread: the last round it answered.
  volatile LONG answered = 0;
  // Set once by StopHeapProbe.
  volatile LONG stop = 0;
};
constinit THeapProbeState g_state;
static_assert(std::is_trivially_destructible_v<THeapProbeState>, "no destructor runs at the process's end");

// The C runtime's heap (the one malloc and operator new use).
HANDLE RuntimeHeap() {
  using TGetHeapHandle = intptr_t(__cdecl*)();
  HMODULE msvcrt = GetModuleHandleA("msvcrt.dll");
  auto get = msvcrt ? reinterpret_cast<TGetHeapHandle>(GetProcAddress(msvcrt, "_get_heap_handle")) : nullptr;
  return get ? reinterpret_cast<HANDLE>(get()) : nullptr;
}

DWORD WINAPI ProbeThread(void* request) {
  const HANDLE heaps[] = {GetProcessHeap(), RuntimeHeap()};
  for (;;) {
    WaitForSingleObject(static_cast<HANDLE>(request), INFINITE);
    if (g_state.stop) return 0;
    const LONG round = g_state.requested;
    for (HANDLE heap : heaps)
      if (heap && HeapLock(heap)) HeapUnlock(heap);
    InterlockedExchange(&g_state.answered, round);
  }
}

}  // namespace

bool StartHeapProbe() {
  if (g_state.probe) return true;
  TScopedHandle request(CreateEventA(nullptr, FALSE, FALSE, nullptr));
  if (!request) return false;
  DWORD id = 0;
  TScopedHandle probe(CreateThread(nullptr, 16 * 1024, ProbeThread, request.Get(),
                                   CREATE_SUSPENDED | STACK_SIZE_PARAM_IS_A_RESERVATION, &id));
  if (!probe) return false;
  RegisterLibraryThread(id, "-");
  SetThreadPriority(probe.Get(), THREAD_PRIORITY_HIGHEST);
  g_state.request = request.Release();
  g_state.probe = probe.Release();
  ResumeThread(g_state.probe);
  return true;
}

void StopHeapProbe() {
  if (!g_state.probe) return;
  InterlockedExchange(&g_state.stop, 1);
  SetEvent(g_state.request);
  // The probe's end is waited for, so that it does not end in the middle of
  // the process's end. A probe stuck on a held heap stays, and so do its
  // handles (it still waits on the request); so does one that needs the
  // loader lock this thread holds.
  HANDLE probe = std::exchange(g_state.probe, nullptr);
  HANDLE request = std::exchange(g_state.request, nullptr);
  if (!HoldsLoaderLock() && WaitForSingleObject(probe, 2000) == WAIT_OBJECT_0) {
    UnregisterLibraryThread(GetThreadId(probe));
    TScopedHandle ended(probe), unused(request);
  }
}

bool IsHeapHeld(DWORD waitMs) {
  if (!g_state.probe || g_state.stop) return false;
  const LONG wanted = InterlockedIncrement(&g_state.requested);
  SetEvent(g_state.request);
  const DWORD start = GetTickCount();
  for (;;) {
    if (g_state.answered - wanted >= 0) return false;
    if (GetTickCount() - start >= waitMs) return true;
    Sleep(1);
  }
}

}  // namespace kestrix
