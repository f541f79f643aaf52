// ZipFiles over the portable ZIP writer: the file's last-write time as local
// DOS date and time, its attributes, entry names from the ANSI code page.
#include "report_ui/delivery/win/zip_files.h"

#include <windows.h>

#include "report_ui/delivery/zip_archive.h"

namespace kestrix {

namespace {

bool FileInfo(const std::string& path, TZipFileInfo& info) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return false;
  info.attributes = data.dwFileAttributes;
  FILETIME local;
  WORD date = 0, time = 0;
  if (FileTimeToLocalFileTime(&data.ftLastWriteTime, &local) && FileTimeToDosDateTime(&local, &date, &time)) {
    info.dosDate = date;
    info.dosTime = time;
  }
  return true;
}

std::string AnsiToUtf8(const std::string& text) {
  if (text.empty()) return text;
  int wide = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (wide <= 0) return text;
  std::wstring units(static_cast<size_t>(wide), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), units.data(), wide);
  int bytes = WideCharToMultiByte(CP_UTF8, 0, units.data(), wide, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return text;
  std::string out(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, units.data(), wide, out.data(), bytes, nullptr, nullptr);
  return out;
}

}  // namespace

bool ZipFiles(const std::string& archivePath, const std::vector<std::string>& files,
              const std::vector<std::string>& names) {
  TZipPlatform platform;
  platform.fileInfo = FileInfo;
  platform.nameToUtf8 = AnsiToUtf8;
  return WriteZipArchive(archivePath, files, names, platform).ok;
}

}  // namespace kestrix
