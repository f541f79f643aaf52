// Names its own thread and ends with exit code 7: the program a test runs
// under its own debugger to see the naming exception.
#include <windows.h>

#include "crash/threads/win/thread_table_win32.h"

int main() {
  kestrix::OpenThreadTable();
  kestrix::AssignThreadName(GetCurrentThreadId(), "named for the debugger");
  return 7;
}
