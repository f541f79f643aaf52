#include "crash/report/report_header.h"

#include <cstdio>

namespace kestrix {
namespace {

class TCollector {
 public:
  explicit TCollector(THeaderItems& out) : out_(out) {}
  template <class Produce>
  void Add(const std::string& name, Produce produce) {
    ++asked_;
    try {
      std::string value = TrimReportValue(produce());
      if (!value.empty()) out_.items.emplace_back(name, std::move(value));
    } catch (...) {
      // A failing item is left out: a header item is a name and a value,
      // with no place for an error text.
    }
  }
  int Asked() const { return asked_; }

 private:
  THeaderItems& out_;
  int asked_ = 0;
};

std::string DollarHex(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "$%x", value);
  return text;
}

}  // namespace

THeaderItems CollectHeaderItems(IHeaderFacts& f) {
  THeaderItems result;
  TCollector c(result);
  c.Add("date/time", [&] { return f.DateTime(); });
  c.Add("computer name", [&] { return f.ComputerName(); });
  c.Add("wts client name", [&] { return f.WtsClientName(); });
  c.Add("user name", [&] { return f.UserName(); });
  c.Add("registered owner", [&] { return f.RegisteredOwner(); });
  c.Add("operating system", [&] { return f.OperatingSystem(); });
  c.Add("system language", [&] { return f.SystemLanguage(); });
  c.Add("system up time", [&] { return f.SystemUpTime(); });
  c.Add("program up time", [&] { return f.ProgramUpTime(); });
  int processors = 1;
  try {
    processors = f.ProcessorCount();
  } catch (...) {
    // Counted as one processor: the item names it without a count.
  }
  if (processors <= 1) {
    std::string name;
    try {
      name = f.ProcessorName();
    } catch (...) {
      // No name: no item.
    }
    if (!TrimReportValue(name).empty()) c.Add("processor", [&] { return name; });
  } else {
    c.Add("processors", [&] { return std::to_string(processors) + "x " + f.ProcessorName(); });
  }
  c.Add("physical memory", [&] { return f.PhysicalMemory(); });
  // Asked for only on the 9x family (its only source): elsewhere it does
  // not count for the insertion index.
  std::string resources;
  try {
    resources = f.SystemResources();
  } catch (...) {
    // Not known: no item.
  }
  if (!resources.empty()) c.Add("system resources", [&] { return resources; });
  c.Add("free disk space", [&] { return f.FreeDiskSpace(); });
  c.Add("display mode", [&] { return f.DisplayMode(); });
  c.Add("process id", [&] { return DollarHex(f.ProcessId()); });
  c.Add("allocated memory", [&] { return f.AllocatedMemory(); });
  std::string commandLine;
  try {
    commandLine = f.CommandLineWithParameters();
  } catch (...) {
    // Left out like any failing item.
  }
  if (!commandLine.empty()) c.Add("command line", [&] { return commandLine; });
  c.Add("executable", [&] { return f.ExecutableName(); });
  std::string otherModule;
  try {
    otherModule = f.OtherModuleName();
  } catch (...) {
    // Taken for the executable's own settings.
  }
  if (!otherModule.empty()) c.Add("current module", [&] { return otherModule; });
  c.Add(otherModule.empty() ? "exec. date/time" : "module date/time", [&] { return f.ModuleDateTime(); });
  std::string version, bde;
  try {
    version = f.Version();
  } catch (...) {
    // No version known.
  }
  if (!version.empty()) c.Add("version", [&] { return version; });
  try {
    bde = f.BdeVersion();
  } catch (...) {
    // Not loaded or unreadable.
  }
  if (!bde.empty()) c.Add("bde version", [&] { return bde; });
  c.Add("compiled with", [&] { return f.CompiledWith(); });
  c.Add("Kestrix version", [&] { return f.KestrixVersion(); });
  std::vector<std::pair<std::string, std::function<std::string()>>> plugins;
  try {
    plugins = f.PluginItems();
  } catch (...) {
    // No plug-in items.
  }
  for (auto& [name, produce] : plugins) c.Add(name, produce);
  result.insertionIndex = c.Asked() - 1;
  return result;
}

std::string FileVersionText(uint32_t ms, uint32_t ls) {
  char text[48];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF);
  return text;
}

TFieldList ExceptionHeaderItems(const std::string& crcPlaceholder, uint64_t number, bool freeze,
                                const std::string& className, const std::string& message) {
  TFieldList items = {{"callstack crc", crcPlaceholder}, {"exception number", std::to_string(number)}};
  if (!freeze) items.emplace_back("exception class", className);
  if (freeze || message != className) items.emplace_back("exception message", message);
  return items;
}

}  // namespace kestrix
