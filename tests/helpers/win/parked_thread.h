// A real thread that waits until it is let go: an id the thread registry
// can open, for as long as a test needs it.
#pragma once

#include <windows.h>

namespace testhelpers {

class TParkedThread {
 public:
  TParkedThread() : release_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {
    thread_ = CreateThread(nullptr, 0, Park, release_, 0, &id_);
  }
  ~TParkedThread() {
    End();
    CloseHandle(release_);
  }
  TParkedThread(const TParkedThread&) = delete;
  TParkedThread& operator=(const TParkedThread&) = delete;

  DWORD Id() const { return id_; }
  // Lets the thread end and waits for its end.
  void End() {
    if (!thread_) return;
    SetEvent(release_);
    WaitForSingleObject(thread_, 10000);
    CloseHandle(thread_);
    thread_ = nullptr;
  }

 private:
  static DWORD WINAPI Park(void* release) { return WaitForSingleObject(static_cast<HANDLE>(release), INFINITE); }
  HANDLE release_;
  HANDLE thread_ = nullptr;
  DWORD id_ = 0;
};

}  // namespace testhelpers
