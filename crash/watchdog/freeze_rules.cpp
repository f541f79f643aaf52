#include "crash/watchdog/freeze_rules.h"

namespace kestrix {

TFreezeCounter::TFreezeCounter(uint32_t freezeTimeout) : base_(freezeTimeout / 10), interval_(freezeTimeout / 10) {
  if (base_ == 0) base_ = interval_ = 1;
}

bool TFreezeCounter::Round(bool answered, uint32_t elapsedMs) {
  if (answered) {
    misses_ = 0;
    interval_ = base_;
    return false;
  }
  // The round overran its interval threefold (and by a second at least):
  // the watchdog did not get the processor, so the main thread may not
  // have either.
  if (elapsedMs > 3 * interval_ && elapsedMs - interval_ > 1000) return false;
  return ++misses_ >= kMissesToFreeze;
}

void TFreezeCounter::Reported() {
  misses_ = 0;
  interval_ += interval_ / 2;
}

}  // namespace kestrix
