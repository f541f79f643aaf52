// The program's exception handlers: registration (the public API) and
// firing, also in the main thread through the library's message window.
#pragma once

#include <windows.h>

#include <cstdint>

#include "crash/report/win/kx_exception_object.h"
#include "kestrix/handling.h"

namespace kestrix {

bool HiddenHandlersExist();
// A handler that needs the complete report is registered.
bool CompleteHandlerExists();
// The main thread is running handlers for the library at the moment.
bool MainThreadRunsHandlers();

// Fires the handler lists of an event kind; handled is in/out. From a
// window (parent set), sending, saving and printing run their assistant
// first.
void FireExceptionHandlers(HWND parent, uint8_t eventKind, uint8_t action, bool& handled, TIKXException* exception);

}  // namespace kestrix
