// File-existence lookups for the many candidates of one analysis.
#pragma once

#include <string>
#include <unordered_map>
#include <unordered_set>

namespace quorrin {

// Answers FileExists for plain file names from one listing per directory,
// matched ignoring ASCII case, as the file system matches them. A lookup in
// a large directory then costs a hash probe instead of a directory search
// (under Wine a miss reads the whole directory). Names the listing cannot
// judge (short-name aliases, device names, trailing dots or blanks,
// non-ASCII) and directories that cannot be listed go to the system. Files
// created after their directory was listed are not seen: keep one instance
// per analysis.
class TFileLookup {
 public:
  bool FileExists(const std::string& name);

 private:
  struct Directory {
    bool listed = false;
    std::unordered_set<std::string> files;  // lower-case names
  };
  const Directory& Listing(const std::string& dir);

  std::unordered_map<std::string, Directory> dirs_;  // by lower-case full path
};

}  // namespace quorrin
