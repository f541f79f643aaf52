// Where the bug report file lies: BugRepFile with "%appname%" and
// "%modname%" replaced, relative paths taken from the executable's folder.
#pragma once

#include <string>
#include <vector>

namespace kestrix {

// exeFolder ends with a backslash; the names are file names without extension.
std::string BugReportFilePath(const std::string& setting, const std::string& exeFolder, const std::string& appName,
                              const std::string& modName);

// The folders to create for a file path, from the top down ("C:\a",
// "C:\a\b" for "C:\a\b\f.txt"; UNC share roots are not included).
std::vector<std::string> FoldersToCreate(const std::string& filePath);

}  // namespace kestrix
