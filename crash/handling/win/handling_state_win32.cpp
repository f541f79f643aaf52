#include "crash/handling/win/handling_state_win32.h"

namespace kestrix {

THandlingState& HandlingState() {
  static auto* state = new THandlingState;  // never destroyed: see the header
  return *state;
}

}  // namespace kestrix
