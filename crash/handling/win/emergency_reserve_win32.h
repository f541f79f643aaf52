// Emergency memory, reserved between exceptions and released while one is
// handled (and by a failing allocation meanwhile).
#pragma once

namespace kestrix {

void ReserveEmergencyMemory();
void ReleaseEmergencyMemory();
bool EmergencyMemoryReserved();

}  // namespace kestrix
