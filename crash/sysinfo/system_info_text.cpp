#include "crash/sysinfo/system_info_text.h"

#include <cstdio>

namespace kestrix {
namespace {

// The hundredths with the separator before their last two digits.
std::string Hundredths(uint64_t hundredths, char separator, const char* unit) {
  std::string digits = std::to_string(hundredths);
  if (digits.size() < 3) digits.insert(0, 3 - digits.size(), '0');
  digits.insert(digits.size() - 2, 1, separator);
  return digits + unit;
}

void AddCount(std::string& text, int64_t count, const char* unit) {
  if (count == 0) return;
  text += std::to_string(count);
  text += ' ';
  text += unit;
  text += count == 1 ? " " : "s ";
}

constexpr const char* kOsNames[] = {"None",          "Windows 95",     "Windows 95 OSR-2", "Windows 98",
                                    "Windows 98 SE", "Windows ME",     "Windows 9x New",   "Windows NT 3",
                                    "Windows NT 4",  "Windows 2000",   "Windows XP",       "Windows 2003",
                                    "Windows Vista", "Windows NT New"};

uint8_t Win9xIndex(uint32_t major, uint32_t minor, uint32_t build) {
  if (major <= 3) return 0;
  if (major != 4) return 6;
  if (minor < 10) return build <= 1000 ? 1 : 2;
  if (minor == 10) return build <= 2000 ? 3 : build <= 2700 ? 4 : 5;
  return minor <= 90 ? 5 : 6;
}

uint8_t WinNtIndex(uint32_t major, uint32_t minor, uint8_t productType) {
  if (major < 4) return 7;
  if (major == 4) return 8;
  if (major == 5) return minor == 0 ? 9 : (minor == 1 || productType == 1) ? 10 : 11;
  if (major == 6 && minor == 0) return 12;
  return 13;
}

// The number from the fourteenth character on ("Service Pack 3"); 0 when
// there is none.
uint32_t ServicePackNumber(const std::string& text) {
  if (text.size() <= 13) return 0;
  uint32_t n = 0;
  for (size_t i = 13; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) n = n * 10 + (text[i] - '0');
  return n;
}

}  // namespace

std::string FormatSize(int64_t bytes, char separator) {
  const uint64_t b = bytes < 0 ? 0 - static_cast<uint64_t>(bytes) : static_cast<uint64_t>(bytes);
  if (b < 1024) return std::to_string(b) + " Bytes";
  if (b < 1048576) return Hundredths(b * 100 / 1024, separator, " KB");
  if (b < 1073741824) return Hundredths(b / 1024 * 100 / 1024, separator, " MB");
  return Hundredths(b / 1024 / 1024 * 100 / 1024, separator, " GB");
}

std::string DurationText(int64_t seconds) {
  if (seconds < 0) seconds = 0;
  int64_t first = seconds / 86400, second = seconds / 3600 % 24;
  const char *firstUnit = "day", *secondUnit = "hour";
  if (first == 0) {
    first = second;
    firstUnit = "hour";
    second = seconds / 60 % 60;
    secondUnit = "minute";
    if (first == 0) {
      first = second;
      firstUnit = "minute";
      second = seconds % 60;
      secondUnit = "second";
    }
  }
  std::string text;
  AddCount(text, first, firstUnit);
  AddCount(text, second, secondUnit);
  return text;
}

std::string ElapsedText(int64_t milliseconds) {
  if (milliseconds < 0) milliseconds = 0;
  std::string text = DurationText(milliseconds / 1000);
  return text.empty() ? std::to_string(milliseconds) + " milliseconds" : text;
}

std::string TrimControls(const std::string& text) {
  size_t b = 0, e = text.size();
  while (b < e && static_cast<unsigned char>(text[b]) <= 32) ++b;
  while (e > b && static_cast<unsigned char>(text[e - 1]) <= 32) --e;
  return text.substr(b, e - b);
}

const char* OsName(unsigned index) {
  return index < sizeof kOsNames / sizeof kOsNames[0] ? kOsNames[index] : kOsNames[0];
}

TOS MakeOsInfo(const TOsVersionRecord& r) {
  TOS os;
  os.Major = r.major;
  os.Minor = r.minor;
  os.ServicePackText = r.servicePackText;
  os.Win9x = r.platform == 1;
  os.WinNt = r.platform == 2;
  os.Build = os.Win9x ? (r.build & 0xFFFF) : r.build;
  if (os.Win9x) os.OsIndex = os.Win9xVersion = Win9xIndex(os.Major, os.Minor, os.Build);
  if (os.WinNt) {
    os.OsIndex = os.WinNtVersion = WinNtIndex(os.Major, os.Minor, r.productType);
    os.ServicePack = r.extended ? r.servicePackMajor : ServicePackNumber(r.servicePackText);
    os.Win64 = r.win64;
  }
  os.Description = OsName(os.OsIndex);
  if (os.WinNt) {
    if (r.serverR2) os.Description += " R2";
    if (r.tabletPc) os.Description += " Tablet PC";
    if (r.starter) os.Description += " Starter";
    if (r.mediaCenter && os.OsIndex < 12) os.Description += " Media Center";
    if (os.Win64) os.Description += " x64";
    if (!os.ServicePackText.empty()) os.Description += " " + os.ServicePackText;
  }
  return os;
}

std::string OsVersionText(const TOS& os) { return os.Description + " build " + std::to_string(os.Build); }

std::string PhysicalMemoryText(uint64_t freeBytes, uint64_t totalBytes) {
  return std::to_string((freeBytes + 524288) / 1048576) + "/" + std::to_string((totalBytes + 524288) / 1048576) +
         " MB (free/total)";
}

std::string FreeResourcesText(unsigned gdi, unsigned user) {
  char text[48];
  std::snprintf(text, sizeof text, "%02u/%02u (gdi/user)", gdi, user);
  return text;
}

std::string DisplayModeText(int width, int height, int bits) {
  return std::to_string(width) + "x" + std::to_string(height) + ", " + std::to_string(bits) + " bit";
}

int CountProcessorsBy(const std::function<bool(int)>& hasName) {
  for (int i = 1; i <= 15; ++i)
    if (!hasName(i)) return i;
  return 16;
}

std::string FreeDiskSpaceText(char systemDrive, const std::string& systemFree, char exeDrive,
                              const std::string& exeFree) {
  auto upper = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; };
  auto entry = [&](char drive, const std::string& size) {
    return size.empty() ? std::string() : std::string("(") + upper(drive) + ":) " + size;
  };
  if (!systemDrive) return std::string();
  const std::string first = entry(systemDrive, systemFree);
  if (!exeDrive || upper(exeDrive) == upper(systemDrive)) return first;
  const std::string second = entry(exeDrive, exeFree);
  return first.empty() ? second : second.empty() ? first : first + " " + second;
}

}  // namespace kestrix
