// The emergency reserve: address space and committed memory given back
// while an exception is handled, so that a report can be made when memory
// ran out.
#include "crash/handling/win/emergency_reserve_win32.h"

#include <new>

#include "crash/handling/win/handling_state_win32.h"

namespace kestrix {
namespace {

// While the reserve is held and the program has no new handler of its own,
// a failing allocation first releases the reserve and tries again; then it
// fails as usual (std::bad_alloc from operator new).
void ReleaseReserveOnNewFailure() {
  std::set_new_handler(nullptr);
  ReleaseEmergencyMemory();
}

}  // namespace

void ReserveEmergencyMemory() {
  if (!std::get_new_handler()) std::set_new_handler(ReleaseReserveOnNewFailure);
  void** reserve = HandlingState().reserve;
  for (int i = 0; i < 8; ++i)
    if (!reserve[i])
      reserve[i] = i < 4 ? VirtualAlloc(nullptr, 4 << 20, MEM_RESERVE, PAGE_NOACCESS)
                         : VirtualAlloc(nullptr, 512 << 10, MEM_RESERVE | MEM_COMMIT, PAGE_NOACCESS);
}

bool EmergencyMemoryReserved() {
  for (void* block : HandlingState().reserve)
    if (block) return true;
  return false;
}

void ReleaseEmergencyMemory() {
  if (std::get_new_handler() == ReleaseReserveOnNewFailure) std::set_new_handler(nullptr);
  for (void*& block : HandlingState().reserve)
    if (block) {
      VirtualFree(block, 0, MEM_RELEASE);
      block = nullptr;
    }
}

}  // namespace kestrix
