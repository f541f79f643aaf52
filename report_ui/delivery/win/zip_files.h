// ZipFiles: the attachment archives of the delivery, with the files' own
// times and attributes and ANSI entry names stored as UTF-8.
#pragma once

#include <string>
#include <vector>

namespace kestrix {

// Packs `files` into `archivePath` with the entry names `names` (empty or
// missing: the file name without folder); unreadable files are left out.
bool ZipFiles(const std::string& archivePath, const std::vector<std::string>& files,
              const std::vector<std::string>& names);

}  // namespace kestrix
