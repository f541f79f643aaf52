// Case files of the decoder tests: <name>.in holds instructions as
// hexadecimal bytes, one a line, and <name>.out what is expected of each,
// line for line. In an .in file "#" starts a comment line and ";" a note
// after the bytes.
#pragma once

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

namespace kestrix::decoder::testing {

struct TCase {
  std::string where;  // "<name>.in:<line>"
  std::string hex;
  std::string expected;
};

struct TCaseFile {
  std::vector<TCase> cases;
  std::string error;  // empty when the pair of files was read whole
};

// The names of a folder's .in files, sorted; none when it cannot be read.
inline std::vector<std::string> CaseNames(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code failed;
  for (std::filesystem::directory_iterator it(folder, failed), end; !failed && it != end; it.increment(failed)) {
    if (it->path().extension() == ".in") names.push_back(it->path().stem().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

inline TCaseFile ReadCases(const std::string& folder, const std::string& name) {
  TCaseFile file;
  std::ifstream in(folder + "/" + name + ".in"), out(folder + "/" + name + ".out");
  if (!in || !out) {
    file.error = "cannot open " + folder + "/" + name + ".in or .out";
    return file;
  }
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    line = line.substr(0, line.find(';'));
    if (line.find_first_not_of(" \t") == std::string::npos || line[0] == '#') continue;
    file.cases.push_back({name + ".in:" + std::to_string(number), line, {}});
  }
  size_t next = 0;
  while (std::getline(out, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (next == file.cases.size()) {
      file.error = name + ".out has more lines than " + name + ".in has instructions";
      return file;
    }
    file.cases[next++].expected = line;
  }
  if (next != file.cases.size()) file.error = name + ".out has fewer lines than " + name + ".in has instructions";
  return file;
}

}  // namespace kestrix::decoder::testing
