// What the settings ask of a minidump and where it goes: the kind, the
// file beside the bug report file, and the line a report carries when its
// dump could not be written.
#pragma once

#include <string>

namespace kestrix {

enum TDumpKind : int {
  dkNone = 0,
  dkStacks = 1,      // threads, registers, stacks, modules, the exception
  dkReferenced = 2,  // also the memory the stacks point into
  dkFull = 3,        // the whole memory of the process
};

// The DumpKind setting as a kind; values outside 0..3 mean none.
TDumpKind DumpKindOf(int setting);

// The dump beside a bug report file: its path with the extension ".dmp"
// ("bugreport.txt" -> "bugreport.dmp", "report" -> "report.dmp"); a dot in a
// folder name is not an extension.
std::string DumpPathBeside(const std::string& reportPath);

// The report's header item for a dump that was not written, and its value:
// "not written: <reason>".
inline constexpr const char* kDumpHeaderItem = "minidump";
std::string DumpFailureText(const std::string& reason);

// Whether saving a report writes its dump beside the file: a repeated crash
// that the file counted (count > 1) keeps the dump of its first report,
// unless that one is gone.
bool DumpWantedBeside(int reportCount, bool dumpExists);

}  // namespace kestrix
