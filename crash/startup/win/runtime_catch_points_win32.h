// The C and C++ runtimes' ways of ending a program, each made a report with
// a message that says what happened and the program's call site on top:
// abort() and SIGABRT (with the C++ exception that left a library module
// carrying a C++ runtime of its own, when that is why), std::terminate
// without an exception, pure virtual calls, the C runtime's
// invalid-parameter handler (msvcrt and ucrt).
#pragma once

#include <cstdint>

namespace kestrix {

void InstallRuntimeCatchPoints();
void RemoveRuntimeCatchPoints();

// std::terminate called with no exception active: reported with the caller
// of std::terminate as its top frame.
void ReportTerminateCall(uint8_t source, bool canContinue);

}  // namespace kestrix
