// The watchdog's counting, apart from threads and windows: ten probes in a
// row without answer make a freeze; after a report the interval grows by
// half until an answer resets it; a probe round that took far longer than
// its interval (the watchdog itself was held up: a machine that is merely
// slow, or asleep) counts for nothing.
#pragma once

#include <cstdint>

namespace kestrix {

constexpr uint32_t kFreezeAnswer = 777;
constexpr int kMissesToFreeze = 10;

class TFreezeCounter {
 public:
  explicit TFreezeCounter(uint32_t freezeTimeout);
  uint32_t Interval() const { return interval_; }
  int Misses() const { return misses_; }
  // One probe round: whether it was answered and how long it really took.
  // True when a freeze is to be reported now.
  bool Round(bool answered, uint32_t elapsedMs);
  // After the report (or a handling) the count starts again.
  void Reset() { misses_ = 0; }
  // After a reported freeze: the next report of the same freeze comes 1.5
  // times later.
  void Reported();

 private:
  uint32_t base_;
  uint32_t interval_;
  int misses_ = 0;
};

}  // namespace kestrix
