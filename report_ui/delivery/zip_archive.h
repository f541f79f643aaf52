// The ZIP container of the attachment archives: local file headers, deflated
// data (raw deflate from zlib), the central directory and its end record.
// Portable; the platform supplies each file's time and attributes and the
// conversion of entry names to UTF-8 (win/zip_files_win32.cpp).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kestrix {

// A file's last-write time as local DOS date and time, and its attributes
// (the external attributes of the central directory entry).
struct TZipFileInfo {
  uint16_t dosTime = 0;
  uint16_t dosDate = (1 << 5) | 1;  // 1980-01-01
  uint32_t attributes = 0;
};

struct TZipPlatform {
  // False when the file's information cannot be read (the file is then
  // packed with the default time and no attributes).
  bool (*fileInfo)(const std::string& path, TZipFileInfo& info) = nullptr;
  // The entry name as UTF-8; null keeps the name's bytes.
  std::string (*nameToUtf8)(const std::string& name) = nullptr;
};

struct TZipResult {
  bool ok = false;
  std::vector<std::string> leftOut;  // files that could not be read
  std::string error;                 // why the archive could not be written
};

// Packs `files` into a new archive at `archivePath` (replaced when it
// exists). `names[i]` is the entry name of `files[i]`; a missing or empty
// name stands for the file name without its folder. An unreadable file is
// left out. Fails when the archive cannot be written or exceeds the 4 GiB
// limits of the classic format.
TZipResult WriteZipArchive(const std::string& archivePath, const std::vector<std::string>& files,
                           const std::vector<std::string>& names, const TZipPlatform& platform);

// The file name after the last "\" or "/".
std::string ZipEntryName(const std::string& path);

// Local date and time as DOS date and time; years before 1980 become 1980-01-01 00:00.
void DosDateTime(int year, int month, int day, int hour, int minute, int second,
                 uint16_t& dosDate, uint16_t& dosTime);

// The CRC-32 of the ZIP format (initial and final inversion), continued from `crc`.
uint32_t ZipCrc32(uint32_t crc, const void* data, size_t size);

}  // namespace kestrix
