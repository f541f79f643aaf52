// File-system services of the platform that the analysis uses.
#pragma once

#include <string>

namespace quorrin {

// True when a file (not a directory) of that name exists.
bool FileExists(const std::string& name);
// The system's full-path computation against the current directory.
std::string ExpandFileName(const std::string& name);
std::string GetCurrentDir();
bool SetCurrentDir(const std::string& dir);
// The system's text for an error code, without trailing blanks and full stops.
std::string SysErrorMessage(unsigned long code);

}  // namespace quorrin
