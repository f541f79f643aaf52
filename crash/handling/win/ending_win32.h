// Ending and restarting the program after an exception, and the times of
// the latest exceptions that the automatic close and restart count.
#pragma once

#include <cstdint>

#include "crash/report/exception_history.h"
#include "crash/report/win/kx_exception_object.h"

namespace kestrix {

TExceptionTimeRing ExceptionTimes();
void SetExceptionTimes(const TExceptionTimeRing& ring);
// The n-th exception within the last minute (AutoClose, AutoRestart).
bool AutoActionDue(int32_t n);

// Ends the program with the exit code of a crash: the operating-system
// exception's code, else 3.
[[noreturn]] void EndProgram(uint32_t exitCode);
uint32_t ExitCodeOf(TIKXException* exception);
// Starts the program again with the restart block and ends this process.
// It starts in the folder the program started in (RememberStartFolder, at
// start-up), so that relative arguments mean the same again.
[[noreturn]] void RestartProgram();
void RememberStartFolder();
// Before the program is closed or restarted: the report completed, the
// automatic save done if due, a background send waited for.
void FinishBeforeEnding(TIKXException* exception);

}  // namespace kestrix
