// A C++ exception that left a library module carrying a C++ runtime of its
// own: that runtime cannot pass it through the program's frames, so its
// throw ends in its own terminate and abort. Seen from the SIGABRT handler,
// the throw's object and type are still on the stack.
#pragma once

#include <cstdint>

#include "crash/exception/win/fault_conversion_win32.h"
#include "kestrix/exceptions.h"

namespace kestrix {

// Looks on the stack above `from` for the arguments of another runtime's
// throw; true with the exception described (class, ancestry, a message that
// says what happened) and its chain from the throw site.
bool FindForeignException(uint32_t from, TExceptionObjectInfo& info, TCapturedStack& stack);

}  // namespace kestrix
