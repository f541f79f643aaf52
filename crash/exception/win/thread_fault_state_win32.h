// Each thread's fault state, readable and writable inside a fault handler
// without allocating or touching the last-error value: the throws in flight,
// the marks of the library's own handling, the thread's fault block, and the
// stack guard that leaves room to handle a stack overflow.
#pragma once

#include <windows.h>

#include <cstdint>

#include "crash/exception/win/fault_conversion_win32.h"

namespace kestrix::fault_state {

constexpr uint32_t kDepthMask = 0xFFFF;     // throws in flight (thrown, not yet caught)
constexpr uint32_t kConverting = 1u << 16;  // a converted fault is on its way to its throw
constexpr uint32_t kFirstPending = 1u << 17;  // the throw in flight is a converted fault
constexpr uint32_t kInHandler = 1u << 18;     // inside the vectored handler
constexpr uint32_t kInRescue = 1u << 19;      // reporting a fault that could not be unwound
constexpr uint32_t kGuardSpent = 1u << 20;    // a stack overflow used up the stack guard
constexpr uint32_t kHandlingUnit = 1u << 21;  // nesting count of the library's handling
constexpr uint32_t kHandlingMask = 7u << 21;  // in this thread (a catch point waiting, handlers)

// Allocates the thread-local slots; until then the state reads as 0.
void Initialize();
uint32_t Read();
void Write(uint32_t state);

// The calling thread's fault block; created on first use from a fixed pool
// (or fresh pages), released when the thread ends. nullptr only when no
// memory is left.
TFaultBlock* Block();

// The usable range of the calling thread's stack: from above the system's
// last page (end) up to its base (top).
struct TStackBounds {
  uint32_t end = 0, top = 0;
};
TStackBounds StackBounds();

// Leaves room below the stack for handling a stack overflow: the system's
// stack guarantee, and on a stack already committed (as under Wine) a guard
// page at that distance from its end. Called in every new thread.
void ArmStackGuard();
// After a stack overflow was caught: puts the guard page back when the
// thread is far enough above it; clears kGuardSpent then.
void RestoreStackGuard();
// New threads get their guard from the module's thread-attach callback.
void SetArmNewThreads(bool on);

}  // namespace kestrix::fault_state
