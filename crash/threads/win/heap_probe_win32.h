// Whether the heaps the library allocates from can be locked: a thread that
// faults inside the allocator (a corrupted heap) holds the heap's lock, and
// any other thread that allocates then waits for ever.
#pragma once

#include <windows.h>

namespace kestrix {

// Starts the probe thread (once; false when it cannot run).
bool StartHeapProbe();
void StopHeapProbe();

// True when the process heap or the C runtime's heap could not be locked
// from the probe thread within waitMs: held by this thread, or by another
// one that does not let go. False when they are free or there is no probe.
bool IsHeapHeld(DWORD waitMs);

}  // namespace kestrix
