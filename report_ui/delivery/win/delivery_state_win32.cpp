#include "report_ui/delivery/win/delivery_state_win32.h"

namespace kestrix {

TDeliveryState& DeliveryState() {
  static auto* state = new TDeliveryState;
  return *state;
}

}  // namespace kestrix
