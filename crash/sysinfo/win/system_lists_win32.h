// The three list plug-ins: the loaded modules (an address-space walk), the
// running processes (the system's process list) and the installed hardware
// (the device-setup library, or the 9x family's configuration manager).
#pragma once

#include <string>
#include <vector>

#include "crash/sysinfo/system_lists.h"
#include "kestrix/handling.h"

namespace kestrix {

std::vector<TModuleEntry> CollectModules();
std::vector<TProcessEntry> CollectProcesses();
THardwareList CollectHardware();

std::string ModuleListText();
std::string ProcessListText();
std::string HardwareListText();

struct TSystemListPlugin {
  const char* name;
  const char* description;
  TPluginProcedure procedure;
};
// "modules", "processes", "hardware", each with its own section.
extern const TSystemListPlugin kSystemListPlugins[3];

}  // namespace kestrix
