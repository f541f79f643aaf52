// The minidump of an exception that gets a bug report: written once, by the
// handling thread, into the library's temporary folder with the report as
// its comment; copied beside the bug report file when the report is saved
// there, attached when the report is sent.
#pragma once

#include <string>

#include "crash/report/win/kx_exception_object.h"

namespace kestrix {

// Writes the exception's dump into folder when its DumpKind asks for one
// (waits for the complete report first). A dump that cannot be written
// gives the report a "minidump" header item saying why.
void WriteExceptionDump(TIKXException* exception, const std::string& folder);

// The file holding the exception's dump; empty when it has none.
std::string ExceptionDumpFile(TIKXException* exception);
// The same for sending, which may start before the handling thread wrote
// the dump: waits for it (at most the writer's deadline); in the handling
// thread itself, writes it into folder first.
std::string ExceptionDumpFileForSending(TIKXException* exception, const std::string& folder);

// After the report was saved to the bug report file at reportPath, where
// it now stands `count` times: its dump beside it (DumpWantedBeside).
void PlaceDumpBeside(TIKXException* exception, const std::string& reportPath, int count);

}  // namespace kestrix
