// The texts of the system-information items, from values the collectors
// read: sizes, durations, the operating system's name, memory, display.
// Plain rules, no system calls; the collectors in win/ feed them.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace kestrix {

// "1023 Bytes", "1,50 KB", "3,99 MB", "2,00 GB": hundredths cut, not
// rounded; the absolute value of `bytes` is used.
std::string FormatSize(int64_t bytes, char decimalSeparator);

// The two largest units that are not all zero, each with a blank after
// it: "1 day 1 hour ", "2 hours 1 minute ", "59 seconds "; 0 gives "".
std::string DurationText(int64_t seconds);

// Program up time from milliseconds: DurationText of the whole seconds,
// "400 milliseconds" under one second.
std::string ElapsedText(int64_t milliseconds);

// Trims characters of codes 0 to 32 at both ends.
std::string TrimControls(const std::string& text);

// The operating system as the version query reports it.
struct TOsVersionRecord {
  uint32_t major = 0, minor = 0, build = 0;
  uint32_t platform = 0;  // 1: the 9x family, 2: the NT family
  std::string servicePackText;
  bool extended = false;  // the extended record was available
  uint16_t servicePackMajor = 0;
  uint8_t productType = 0;  // 1: workstation
  bool serverR2 = false, tabletPc = false, starter = false, mediaCenter = false;
  bool win64 = false;
};

struct TOS {
  uint32_t Major = 0, Minor = 0, Build = 0;
  std::string ServicePackText;
  bool Win9x = false;
  uint8_t Win9xVersion = 0;
  bool WinNt = false;
  uint8_t WinNtVersion = 0;
  uint8_t OsIndex = 0;
  bool Win64 = false;
  uint32_t ServicePack = 0;
  std::string Description;
};

// "Windows 95" ... "Windows NT New"; "None" outside the table.
const char* OsName(unsigned index);
TOS MakeOsInfo(const TOsVersionRecord& record);
// "Windows XP Service Pack 2 build 2600".
std::string OsVersionText(const TOS& os);

// "212/1023 MB (free/total)", each rounded to whole megabytes.
std::string PhysicalMemoryText(uint64_t freeBytes, uint64_t totalBytes);
// "07/35 (gdi/user)".
std::string FreeResourcesText(unsigned gdiPercent, unsigned userPercent);
// "1280x1024, 32 bit".
std::string DisplayModeText(int width, int height, int bitsPerPixel);
// 1 to 16: the first processor index from 1 on without a name, 16 when
// indexes 1 to 15 all have one.
int CountProcessorsBy(const std::function<bool(int index)>& hasName);

// "(C:) 1,50 GB", or "(C:) ... (D:) ..." when the executable lies on another
// drive than the system; empty without a system drive.
std::string FreeDiskSpaceText(char systemDrive, const std::string& systemFree, char exeDrive,
                              const std::string& exeFree);

}  // namespace kestrix
