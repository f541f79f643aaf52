#include "crash/base/win/critical_section.h"

namespace kestrix {

TCriticalSectionLock& HandlerLock() {
  static TCriticalSectionLock* lock = new TCriticalSectionLock;
  return *lock;
}

}  // namespace kestrix
