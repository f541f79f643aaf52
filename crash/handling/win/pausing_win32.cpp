// Pausing the program's threads: the main thread and the program's own
// threads wait on an event in their next message call while an exception
// is handled.
#include "crash/handling/win/pausing_win32.h"

#include "crash/handling/win/handling_state_win32.h"
#include "crash/threads/win/library_threads.h"
#include "crash/threads/win/thread_hooks_win32.h"
#include "crash/threads/win/thread_table_win32.h"

namespace kestrix {
namespace {

bool HasDebugInfoResource(uint32_t address) {
  HMODULE module = nullptr;
  return address &&
         GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCSTR>(address), &module) &&
         FindResourceA(module, "EXCEPT", "KX") != nullptr;
}

void WakeMainThread() {
  if (HWND window = HandlingState().window) PostMessageA(window, kLibraryMessage, 1, 0);
}

}  // namespace

void PauseProgramThreads(DWORD spare) {
  THandlingState& s = HandlingState();
  std::lock_guard<std::mutex> lock(s.pauseMutex);
  if (!s.mainGoEvent) s.mainGoEvent = CreateEventA(nullptr, TRUE, TRUE, nullptr);
  if (!s.othersGoEvent) s.othersGoEvent = CreateEventA(nullptr, TRUE, TRUE, nullptr);
  if (!s.mainGoEvent || !s.othersGoEvent) return;
  // Paused threads stop in their next message call (hooked unless the
  // loader lock, which the module walk needs, is held elsewhere).
  if (!IsProcessStalled(0)) InstallMessageHooks(PauseCheck);
  ResetEvent(s.mainGoEvent);
  ResetEvent(s.othersGoEvent);
  s.pausedThreads.clear();
  const DWORD self = GetCurrentThreadId();
  for (DWORD id : ThreadIds()) {
    if (id == self || id == MainThreadId() || id == spare || IsLibraryThread(id)) continue;
    TThreadInfo info;
    // Only threads the program created from code with the library's debug
    // information (the thread hooks record the creators).
    if (LookupThread(id, info, 50) && HasDebugInfoResource(info.creatorAddress)) s.pausedThreads.push_back(id);
  }
  s.paused = true;
  WakeMainThread();
}

void ResumeProgramThreads() {
  THandlingState& s = HandlingState();
  std::lock_guard<std::mutex> lock(s.pauseMutex);
  const bool wasPaused = s.paused;
  s.paused = false;
  s.pausedThreads.clear();
  // Set whatever the flag says, so that no thread waits on past a shutdown.
  if (s.mainGoEvent) SetEvent(s.mainGoEvent);
  if (s.othersGoEvent) SetEvent(s.othersGoEvent);
  if (wasPaused) WakeMainThread();
}

void PauseCheck() {
  THandlingState& s = HandlingState();
  if (!s.paused) return;
  const DWORD self = GetCurrentThreadId();
  HANDLE wait = nullptr;
  {
    std::lock_guard<std::mutex> lock(s.pauseMutex);
    if (self == MainThreadId()) {
      wait = s.mainGoEvent;
    } else {
      for (DWORD id : s.pausedThreads)
        if (id == self) wait = s.othersGoEvent;
    }
  }
  if (wait) WaitForSingleObject(wait, INFINITE);
}

bool ThreadsPaused() { return HandlingState().paused; }

TMainThreadRelease::TMainThreadRelease() {
  THandlingState& s = HandlingState();
  if (!s.paused || !s.mainGoEvent || GetCurrentThreadId() == MainThreadId()) return;
  released_ = SetEvent(s.mainGoEvent) != 0;
}

TMainThreadRelease::~TMainThreadRelease() {
  THandlingState& s = HandlingState();
  if (!released_ || !s.paused) return;
  ResetEvent(s.mainGoEvent);
  WakeMainThread();
}

}  // namespace kestrix
