#include "crash/report/bug_report_path.h"

#include <cctype>

namespace kestrix {
namespace {

std::string ReplaceIgnoringCase(std::string text, const std::string& from, const std::string& to) {
  auto lower = [](std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
  };
  const std::string needle = lower(from);
  std::string folded = lower(text);
  for (size_t at = folded.find(needle); at != std::string::npos; at = folded.find(needle, at + to.size())) {
    text.replace(at, from.size(), to);
    folded.replace(at, from.size(), lower(to));
  }
  return text;
}

}  // namespace

std::string BugReportFilePath(const std::string& setting, const std::string& exeFolder, const std::string& appName,
                              const std::string& modName) {
  std::string path = ReplaceIgnoringCase(setting, "%appname%", appName);
  path = ReplaceIgnoringCase(path, "%modname%", modName);
  const bool absolute = path.size() >= 3 && (path[0] == '\\' || path[1] == ':');
  return absolute ? path : exeFolder + path;
}

std::vector<std::string> FoldersToCreate(const std::string& filePath) {
  std::vector<std::string> folders;
  size_t start = 0;
  if (filePath.size() >= 2 && filePath[1] == ':') {
    start = 3;  // "C:\"
  } else if (filePath.compare(0, 2, "\\\\") == 0) {
    // \\server\share\ is not a folder to create.
    size_t server = filePath.find('\\', 2);
    size_t share = server == std::string::npos ? server : filePath.find('\\', server + 1);
    if (share == std::string::npos) return folders;
    start = share + 1;
  } else if (!filePath.empty() && filePath[0] == '\\') {
    start = 1;
  }
  for (size_t at = filePath.find_first_of("\\/", start); at != std::string::npos;
       at = filePath.find_first_of("\\/", at + 1))
    if (at > 0) folders.push_back(filePath.substr(0, at));
  return folders;
}

}  // namespace kestrix
