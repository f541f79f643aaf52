// Packs files as the delivery does, for the ZIP tests and the benchmark:
//   zip_probe ARCHIVE MANIFEST   (MANIFEST: lines "path<TAB>entry name", names
//                                 in the ANSI code page on Windows, UTF-8 natively)
//   zip_probe --acp              (prints the ANSI code page, or "utf-8")
// Exit code 0 when the archive was written.
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>

#include "report_ui/delivery/win/zip_files.h"
#else
#include <sys/stat.h>

#include <ctime>

#include "report_ui/delivery/zip_archive.h"
#endif

namespace {

#ifndef _WIN32
bool PosixInfo(const std::string& path, kestrix::TZipFileInfo& info) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return false;
  struct tm local;
  localtime_r(&st.st_mtime, &local);
  kestrix::DosDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                       local.tm_sec, info.dosDate, info.dosTime);
  info.attributes = (st.st_mode & 0200) ? 0x20 : 0x21;  // archive, read-only
  return true;
}
#endif

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::string(argv[1]) == "--acp") {
#ifdef _WIN32
    printf("cp%u\n", GetACP());
#else
    printf("utf-8\n");
#endif
    return 0;
  }
  if (argc != 3) {
    fprintf(stderr, "usage: zip_probe ARCHIVE MANIFEST | --acp\n");
    return 2;
  }
  std::ifstream manifest(argv[2], std::ios::binary);
  std::vector<std::string> files, names;
  for (std::string line; std::getline(manifest, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    size_t tab = line.find('\t');
    files.push_back(line.substr(0, tab));
    names.push_back(tab == std::string::npos ? std::string() : line.substr(tab + 1));
  }
#ifdef _WIN32
  return kestrix::ZipFiles(argv[1], files, names) ? 0 : 1;
#else
  kestrix::TZipPlatform platform;
  platform.fileInfo = PosixInfo;
  kestrix::TZipResult r = kestrix::WriteZipArchive(argv[1], files, names, platform);
  for (const std::string& f : r.leftOut) fprintf(stderr, "left out: %s\n", f.c_str());
  if (!r.ok) fprintf(stderr, "%s\n", r.error.c_str());
  return r.ok ? 0 : 1;
#endif
}
