// Kestrix, the crash-report library: what a program includes. Linking the
// target Kestrix::kestrix starts the library before the program's own code;
// nothing needs to be called for unhandled exceptions, faults and errors at
// exit to be reported. A program with a message loop of its own passes the
// exceptions escaping its event handlers to HandleEventHandlerException.
#pragma once

#include <exception>

#include "kestrix/exception_object.h"
#include "kestrix/exceptions.h"
#include "kestrix/handling.h"
#include "kestrix/settings.h"

namespace kestrix {

// The library's version, as reports name it.
inline constexpr char kKestrixVersion[] = "3.0e";

// True when the library started (settings valid and Enabled).
bool KestrixActive();

// Reports an exception that escaped a window's event handler (the program
// goes on afterwards). False when the library is not active; the program
// then shows the exception itself.
bool HandleEventHandlerException(std::exception_ptr error);

// Signature-compatible with an application object's exception hook.
inline bool EventHandlerExceptionHook(std::exception_ptr error, void*) { return HandleEventHandlerException(error); }

// Names a thread in reports (as the thread-naming exception 0x406D1388 does).
void SetThreadName(unsigned long threadId, const char* name);

// A console program that answers as a CGI program: an exception is written
// to standard output as an HTML page with the report.
void SetCgiMode(bool value);

}  // namespace kestrix
