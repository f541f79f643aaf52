#include "crash/dump/dump_file.h"

namespace kestrix {

TDumpKind DumpKindOf(int setting) {
  return setting >= dkStacks && setting <= dkFull ? static_cast<TDumpKind>(setting) : dkNone;
}

std::string DumpPathBeside(const std::string& reportPath) {
  const size_t slash = reportPath.find_last_of("\\/");
  const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
  const size_t dot = reportPath.rfind('.');
  const bool hasExtension = dot != std::string::npos && dot > nameStart;
  return (hasExtension ? reportPath.substr(0, dot) : reportPath) + ".dmp";
}

std::string DumpFailureText(const std::string& reason) { return "not written: " + reason; }

bool DumpWantedBeside(int reportCount, bool dumpExists) { return reportCount <= 1 || !dumpExists; }

}  // namespace kestrix
