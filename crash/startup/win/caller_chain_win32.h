// The call chain of a catch point that the program reaches through a
// runtime: the program's call site on top (the call instruction itself, as a
// call that never returns may leave a return address in the next function),
// then the frame chain above it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "crash/exception/win/fault_conversion_win32.h"

namespace kestrix {

// Memory at [address, address + size) can be read.
bool Readable(uint32_t address, uint32_t size);
// The module whose image holds the address, or nullptr.
HMODULE ModuleOf(uint32_t address);

// The call instruction before `ret` (ret - 1 when its encoding is unusual).
uint32_t CallSite(uint32_t ret);

// The chain of a call: its call site, then the frame-pointer chain from
// `frame` of the frames that lie above `slot` (the stack address holding
// `ret`).
void ChainFromCall(uint32_t ret, uint32_t slot, uint32_t frame, TCapturedStack& out);

// The chain from where the program called into the system's C runtime,
// seen from a handler the runtime called (its frame is ownFrame): along the
// frame chain when the runtime keeps one, else the first return address into
// the program found on the stack.
void ChainFromRuntimeCall(uint32_t ownFrame, TCapturedStack& out);

}  // namespace kestrix
