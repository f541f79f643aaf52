// Pausing the program's threads while an exception is handled: paused
// threads stop in PauseCheck, which the library's message window and every
// hooked message function run. The library's threads are never paused.
#pragma once

#include <windows.h>

namespace kestrix {

void PauseProgramThreads(DWORD spareThreadId);
void ResumeProgramThreads();
void PauseCheck();
bool ThreadsPaused();

// While it lives, a main thread held by the pausing goes on (the program's
// windows answer, e.g. to a mail client's dialog); afterwards it is held
// again unless the threads were resumed meanwhile. Nothing when the main
// thread is not held or is the calling thread.
class TMainThreadRelease {
 public:
  TMainThreadRelease();
  ~TMainThreadRelease();
  TMainThreadRelease(const TMainThreadRelease&) = delete;
  TMainThreadRelease& operator=(const TMainThreadRelease&) = delete;

 private:
  bool released_ = false;
};

}  // namespace kestrix
