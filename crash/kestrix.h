// What a program linking Kestrix may call: the catch point of its GUI
// event-handler boundary, and the library's exception classes.
#pragma once

#include <exception>

#include "crash/exception/kx_exception.h"

namespace kestrix {

// Reports an exception that escaped a window's event handler (the program
// goes on afterwards). False when the library is not active; the program
// then shows the exception itself.
bool HandleEventHandlerException(std::exception_ptr error);

// Signature-compatible with an application object's exception hook.
inline bool EventHandlerExceptionHook(std::exception_ptr error, void*) { return HandleEventHandlerException(error); }

// True when the library started (settings valid and Enabled).
bool KestrixActive();

}  // namespace kestrix
