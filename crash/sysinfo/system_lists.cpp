#include "crash/sysinfo/system_lists.h"

#include <algorithm>
#include <cstdio>

#include "crash/sysinfo/system_info_text.h"

namespace kestrix {
namespace {

std::string PadRight(std::string text, size_t width) {
  if (text.size() < width) text.append(width - text.size(), ' ');
  return text;
}

std::string Hex(uint32_t value, int width) {
  char text[16];
  std::snprintf(text, sizeof text, "%0*x", width, static_cast<unsigned>(value));
  return text;
}

size_t HexDigits(uint32_t value) {
  size_t n = 1;
  while (value >>= 4) ++n;
  return n;
}

void AddLine(std::string& text, const std::string& line) {
  if (!text.empty()) text += "\r\n";
  text += line;
}

}  // namespace

void SplitPath(const std::string& path, std::string& directory, std::string& fileName) {
  const size_t slash = path.rfind('\\');
  directory = slash == std::string::npos ? std::string() : path.substr(0, slash);
  fileName = slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ModuleListText(const std::vector<TModuleEntry>& modules) {
  size_t nameWidth = 0, versionWidth = 0;
  for (const TModuleEntry& m : modules) {
    nameWidth = std::max(nameWidth, m.fileName.size());
    versionWidth = std::max(versionWidth, m.version.size());
  }
  std::string text;
  for (const TModuleEntry& m : modules)
    AddLine(text, Hex(m.address, 8) + " " + PadRight(m.fileName, nameWidth + 1) +
                      PadRight(m.version, versionWidth + 1) + m.directory);
  return text;
}

std::string PriorityClassText(int64_t priorityClass) {
  switch (priorityClass) {
    case -1:
    case 0: return std::string();
    case 32: return "normal";
    case 64: return "idle";
    case 128: return "high";
    case 256: return "realtime";
    case 16384: return "below normal";
    case 32768: return "above normal";
    default: return "$" + Hex(static_cast<uint32_t>(priorityClass), 1);
  }
}

std::string ProcessListText(const std::vector<TProcessEntry>& processes) {
  size_t idWidth = 0, nameWidth = 0, sessionWidth = 0, priorityWidth = 0;
  for (const TProcessEntry& p : processes) {
    idWidth = std::max(idWidth, HexDigits(p.id));
    nameWidth = std::max(nameWidth, p.fileName.size());
    if (p.session != 0) sessionWidth = std::max(sessionWidth, std::to_string(p.session).size());
    priorityWidth = std::max(priorityWidth, PriorityClassText(p.priorityClass).size());
  }
  std::string text;
  for (const TProcessEntry& p : processes) {
    std::string line = Hex(p.id, static_cast<int>(idWidth)) + " " + PadRight(p.fileName, nameWidth + 1);
    if (sessionWidth) line += PadRight(std::to_string(p.session), sessionWidth + 1);
    line += PadRight(PriorityClassText(p.priorityClass), priorityWidth + 1) + p.directory;
    AddLine(text, line);
  }
  return text;
}

std::string PlainProcessPath(const std::string& path, const std::string& systemDirectory) {
  const std::string systemRoot = "\\SystemRoot\\System32\\";
  if (StartsWithText1252(path, systemRoot)) return systemDirectory + path.substr(systemRoot.size() - 1);
  if (path.compare(0, 4, "\\??\\") == 0) return path.substr(4);
  return path;
}

unsigned char LowerCase1252(unsigned char c) {
  if ((c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7)) return static_cast<unsigned char>(c + 32);
  switch (c) {
    case 0x8A: return 0x9A;  // S with caron
    case 0x8C: return 0x9C;  // OE
    case 0x8E: return 0x9E;  // Z with caron
    case 0x9F: return 0xFF;  // Y with diaeresis
    default: return c;
  }
}

int CompareText1252(const std::string& a, const std::string& b) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    const int x = LowerCase1252(static_cast<unsigned char>(a[i]));
    const int y = LowerCase1252(static_cast<unsigned char>(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : a.size() < b.size() ? -1 : 1;
}

bool StartsWithText1252(const std::string& text, const std::string& prefix) {
  return text.size() >= prefix.size() && CompareText1252(text.substr(0, prefix.size()), prefix) == 0;
}

void THardwareList::InsertDevice(const std::string& className, const std::string& description,
                                 const std::string& driverKey) {
  auto at = std::find_if(classes_.begin(), classes_.end(),
                         [&](const TDeviceClass& c) { return CompareText1252(c.name, className) >= 0; });
  // Among the classes equal ignoring case, one equal byte for byte is
  // taken; otherwise the new one goes first of them.
  auto same = at;
  while (same != classes_.end() && CompareText1252(same->name, className) == 0 && same->name != className) ++same;
  if (same == classes_.end() || same->name != className) same = classes_.insert(at, TDeviceClass{className, {}});
  std::vector<TDevice>& devices = same->devices;
  auto slot = std::find_if(devices.begin(), devices.end(), [&](const TDevice& d) {
    return CompareText1252(d.description, description) >= 0;
  });
  devices.insert(slot, TDevice{description, driverKey});
}

std::string HardwareListText(const THardwareList& list, const TRegistryReader& read) {
  std::string text;
  for (const TDeviceClass& c : list.Classes()) {
    AddLine(text, "+ " + c.name);
    for (const TDevice& d : c.devices) {
      std::string line = "  - " + d.description;
      if (!d.driverKey.empty()) {
        const std::string provider = read(d.driverKey, "ProviderName");
        if (!provider.empty() && provider[0] != '(' && CompareText1252(provider, "Microsoft") != 0) {
          std::string version = TrimControls(read(d.driverKey, "DriverVersion"));
          if (version.empty()) version = TrimControls(read(d.driverKey, "DriverDate"));
          if (!version.empty()) line += " (driver " + version + ")";
        }
      }
      AddLine(text, line);
    }
  }
  return text;
}

}  // namespace kestrix
