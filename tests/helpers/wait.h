// Waiting on a condition with a deadline: the one way tests and their
// drivers wait for a window, a file, a process or another thread.
#pragma once

#include <chrono>
#include <thread>

namespace testhelpers {

// Polls cond every pollMs milliseconds until it holds (true) or timeoutMs
// have passed (false; cond is asked once more at the deadline).
template <class F>
bool WaitUntil(F cond, int timeoutMs = 15000, int pollMs = 5) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (cond()) return true;
    if (std::chrono::steady_clock::now() >= end) return cond();
    std::this_thread::sleep_for(std::chrono::milliseconds(pollMs));
  }
}

}  // namespace testhelpers
