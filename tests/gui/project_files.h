// Writes small Pascal projects for the window tests.
#pragma once

#include <string>
#include <vector>

namespace quorrin::gui {

// Joins lines with CR LF, with a final CR LF.
std::string CrLf(const std::vector<std::string>& lines);
// Writes bytes to a file, creating its directories.
void WriteFile(const std::string& path, const std::string& bytes);

// A folder "gui-projects\<name>" under the current directory, emptied and
// created; returns its absolute path.
std::string FreshProjectDir(const std::string& name);

}  // namespace quorrin::gui
