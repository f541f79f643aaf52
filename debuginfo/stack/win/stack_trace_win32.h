// The stack tracer over the own process: its modules, maps and memory, the
// stacks of the own thread, of a held thread and of a stack copied at an
// exception; the report's call-stack hook.
#pragma once

#include <cstdint>
#include <string>

#include "crash/report/win/kx_exception_object.h"
#include "debuginfo/stack/stack_tracer.h"

namespace kestrix::stack {

// The report's hook (TReportHooks::traceThread).
bool TraceThreadForReport(const TThreadStackRequest& request, TThreadStackResult& result);

// Traces the given stack range of the own process (the tables are shared
// and guarded by one lock).
TTraceResult TraceOwnStack(const TTraceInput& input);

// The calling thread's own stack from its caller on.
TTraceResult TraceCurrentThread(bool hideUglyItems, bool showRelAddrs, bool showRelLines);

// Empties the module and function tables (library shutdown).
void ClearStackTables();

}  // namespace kestrix::stack
