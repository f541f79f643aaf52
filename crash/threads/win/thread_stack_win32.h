// A thread's stack range from its thread information block.
#pragma once

#include <windows.h>

#include <cstdint>

namespace kestrix {

struct TThreadStackRange {
  uint32_t limit = 0, base = 0;  // [limit, base); both 0 when unknown
};
// The handle needs THREAD_QUERY_INFORMATION.
TThreadStackRange ThreadStackRange(HANDLE thread);

}  // namespace kestrix
