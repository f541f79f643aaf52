// The handling thread: requests arrive through an anonymous pipe, one
// ProcessException each; the requesting thread waits for the request's
// event (the main thread keeps its messages going meanwhile).
#include "crash/handling/win/handling_state_win32.h"
#include "crash/threads/win/heap_probe_win32.h"
#include "crash/threads/win/library_threads.h"
#include "crash/threads/win/thread_table_win32.h"

namespace kestrix {
namespace {

bool ReadRequest(TExceptionRequest& r) {
  DWORD got = 0, total = 0;
  while (total < sizeof r) {
    if (!ReadFile(HandlingState().pipeRead.Get(), reinterpret_cast<char*>(&r) + total, sizeof r - total, &got, nullptr) ||
        got == 0)
      return false;
    total += got;
  }
  return true;
}

DWORD WINAPI HandlingThreadProc(void*) {
  RegisterLibraryThread(GetCurrentThreadId(), "-");
  for (;;) {
    TExceptionRequest r;
    if (!ReadRequest(r) || r.event == 0) break;
    try {
      ProcessException(r);
    } catch (...) {
      // The exception object, and with it the report, went with
      // ProcessException's frame: no report is left to record this in.
      // The waiting thread is let go below all the same.
    }
    SetEvent(reinterpret_cast<HANDLE>(r.event));
    PostThreadMessageA(r.threadId, WM_NULL, 0, 0);
  }
  return 0;
}

}  // namespace

bool SendRequest(const TExceptionRequest& r) {
  THandlingState& s = HandlingState();
  DWORD written = 0;
  AcquireSRWLockExclusive(&s.pipeWriteLock);
  const bool sent = WriteFile(s.pipeWrite.Get(), &r, sizeof r, &written, nullptr) && written == sizeof r;
  ReleaseSRWLockExclusive(&s.pipeWriteLock);
  return sent;
}

void WaitForHandling(HANDLE event) {
  // Messages run the program's window procedures, which a thread whose stack
  // an overflow used up cannot afford; and a window procedure failing again
  // while an exception of its own is handled must not nest without end.
  constexpr uint32_t kRoomToPump = 256 * 1024;
  if (GetCurrentThreadId() != MainThreadId() || StackRoom() < kRoomToPump || ThreadHandlingDepth() > 1) {
    WaitForSingleObject(event, INFINITE);
    return;
  }
  for (;;) {
    DWORD w = MsgWaitForMultipleObjects(1, &event, FALSE, INFINITE, QS_ALLINPUT);
    if (w == WAIT_OBJECT_0 || w == WAIT_FAILED) break;
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        // The request points into this thread's stack: wait for its end
        // without pumping, then hand the quit message back to the loop.
        WaitForSingleObject(event, INFINITE);
        PostQuitMessage(static_cast<int>(msg.wParam));
        return;
      }
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
  }
}

bool StartHandlingThread() {
  THandlingState& s = HandlingState();
  if (s.handlingThread) return true;
  HANDLE pipeRead = nullptr, pipeWrite = nullptr;
  if (!CreatePipe(&pipeRead, &pipeWrite, nullptr, 0)) return false;
  s.pipeRead.Reset(pipeRead);
  s.pipeWrite.Reset(pipeWrite);
  DWORD id = 0;
  s.handlingThread.Reset(CreateThread(nullptr, 0, HandlingThreadProc, nullptr, CREATE_SUSPENDED, &id));
  if (!s.handlingThread) {
    s.pipeRead.Reset();
    s.pipeWrite.Reset();
    return false;
  }
  SetHandlingThreadId(id);
  RegisterLibraryThread(id, "-");
  SetThreadPriority(s.handlingThread.Get(), THREAD_PRIORITY_HIGHEST);
  ResumeThread(s.handlingThread.Get());
  StartHeapProbe();
  return true;
}

void StopHandlingThread() {
  THandlingState& s = HandlingState();
  StopHeapProbe();
  if (!s.handlingThread) return;
  ResumeThread(s.handlingThread.Get());
  // The closed pipe ends the thread's wait for requests. Its end is waited
  // for, never forced: a thread ended the hard way, or one still ending
  // while the process ends, may take a lock of the system with it. A thread
  // that needs the loader lock this thread holds cannot end now.
  s.pipeWrite.Reset();
  if (!HoldsLoaderLock()) WaitForSingleObject(s.handlingThread.Get(), 5000);
  UnregisterLibraryThread(HandlingThreadId());
  s.handlingThread.Reset();
  SetHandlingThreadId(0);
}

}  // namespace kestrix
