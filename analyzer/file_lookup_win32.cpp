#include <windows.h>

#include "analyzer/file_lookup.h"
#include "analyzer/platform_fs.h"
#include "analyzer/text_utils.h"

namespace quorrin {
namespace {

// A name that can only match an entry of the same spelling, ignoring case.
bool IsPlainName(const std::string& name) {
  if (name.empty() || name.back() == '.' || name.back() == ' ') return false;
  for (const char c : name) {
    const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
                    c == '-' || c == '.';
    if (!ok) return false;
  }
  // Device names stay devices whatever their extension.
  const std::string base = LowerAscii(name.substr(0, name.find('.')));
  if (base == "con" || base == "prn" || base == "aux" || base == "nul" || base == "conin$" || base == "conout$")
    return false;
  if (base.size() == 4 && (base.rfind("com", 0) == 0 || base.rfind("lpt", 0) == 0) && base[3] >= '0' &&
      base[3] <= '9')
    return false;
  return true;
}

}  // namespace

const TFileLookup::Directory& TFileLookup::Listing(const std::string& dir) {
  const std::string key = LowerAscii(dir);
  auto it = dirs_.find(key);
  if (it != dirs_.end()) return it->second;
  Directory& d = dirs_[key];
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((dir + "\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) {
    // A missing directory holds no files; any other failure is left to the system.
    const DWORD error = GetLastError();
    d.listed = error == ERROR_PATH_NOT_FOUND || error == ERROR_FILE_NOT_FOUND;
    return d;
  }
  do {
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) d.files.insert(LowerAscii(found.cFileName));
  } while (FindNextFileA(search, &found));
  d.listed = GetLastError() == ERROR_NO_MORE_FILES;
  FindClose(search);
  if (!d.listed) d.files.clear();
  return d;
}

bool TFileLookup::FileExists(const std::string& name) {
  const std::string full = ExpandFileName(name);
  const size_t slash = full.rfind('\\');
  if (slash == std::string::npos || slash + 1 >= full.size()) return quorrin::FileExists(name);
  const std::string file = full.substr(slash + 1);
  if (!IsPlainName(file)) return quorrin::FileExists(name);
  const Directory& d = Listing(full.substr(0, slash));  // the root gives "C:", listed as C:\*
  if (!d.listed) return quorrin::FileExists(name);
  return d.files.count(LowerAscii(file)) != 0;
}

}  // namespace quorrin
