// The texts of the three list plug-ins ("modules", "processes",
// "hardware") from the entries the collectors gathered: column widths,
// alignment, the device classes' order.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kestrix {

// Splits at the last backslash: directory (without it) and file name; no
// backslash: empty directory.
void SplitPath(const std::string& path, std::string& directory, std::string& fileName);

struct TModuleEntry {
  uint32_t address = 0;
  std::string fileName, directory, version;
};
// "00400000 lab.exe      1.0.0.0 C:\dir", one line per module, CR LF
// between lines.
std::string ModuleListText(const std::vector<TModuleEntry>& modules);

struct TProcessEntry {
  std::string fileName, directory;
  uint32_t id = 0, session = 0;
  int64_t priorityClass = -1;  // -1: not available
};
// "normal", "idle", ...; "" for 0 and not available; else "$" and hex.
std::string PriorityClassText(int64_t priorityClass);
std::string ProcessListText(const std::vector<TProcessEntry>& processes);
// A process image path as the system's process list may give it, made a
// plain path: "\SystemRoot\System32\x" under the system directory, "\??\"
// dropped.
std::string PlainProcessPath(const std::string& path, const std::string& systemDirectory);

// Code page 1252's lower case of one byte, and texts compared through it
// (on a common prefix the shorter is less).
unsigned char LowerCase1252(unsigned char c);
int CompareText1252(const std::string& a, const std::string& b);
bool StartsWithText1252(const std::string& text, const std::string& prefix);

struct TDevice {
  std::string description, driverKey;
};
struct TDeviceClass {
  std::string name;
  std::vector<TDevice> devices;
};
// Device classes sorted by name ignoring case, devices by description.
class THardwareList {
 public:
  void InsertDevice(const std::string& className, const std::string& description, const std::string& driverKey);
  const std::vector<TDeviceClass>& Classes() const { return classes_; }

 private:
  std::vector<TDeviceClass> classes_;
};
// Reads a string value of a machine-wide registry key; "" when missing.
using TRegistryReader = std::function<std::string(const std::string& key, const std::string& value)>;
// "+ Ports" lines with "  - COM1 (driver 1.0)" lines under them.
std::string HardwareListText(const THardwareList& list, const TRegistryReader& read);

}  // namespace kestrix
