// The report header's items: which ones a report has and in which order.
// The values come from a source of facts about the machine, the process and
// the exception; a fact that cannot be had (its getter throws or gives an
// empty text) leaves its item out.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "crash/report/report_text.h"

namespace kestrix {

class IHeaderFacts {
 public:
  virtual ~IHeaderFacts() = default;
  virtual std::string DateTime() = 0;
  virtual std::string ComputerName() = 0;
  virtual std::string WtsClientName() = 0;
  virtual std::string UserName() = 0;
  virtual std::string RegisteredOwner() = 0;
  virtual std::string OperatingSystem() = 0;
  virtual std::string SystemLanguage() = 0;
  virtual std::string SystemUpTime() = 0;
  virtual std::string ProgramUpTime() = 0;
  virtual int ProcessorCount() = 0;
  virtual std::string ProcessorName() = 0;
  virtual std::string PhysicalMemory() = 0;
  // Free GDI and USER resources: on the 9x family only, else empty.
  virtual std::string SystemResources() = 0;
  virtual std::string FreeDiskSpace() = 0;
  virtual std::string DisplayMode() = 0;
  virtual uint32_t ProcessId() = 0;
  virtual std::string AllocatedMemory() = 0;
  // The command line, when the program was given parameters; else empty.
  virtual std::string CommandLineWithParameters() = 0;
  virtual std::string ExecutableName() = 0;
  // The module the exception's settings belong to, when that is not the
  // executable; else empty.
  virtual std::string OtherModuleName() = 0;
  // Last write of that module's file (of the executable's without one).
  virtual std::string ModuleDateTime() = 0;
  // The version text, or the module's file version; empty when none is
  // known or the module's file is gone.
  virtual std::string Version() = 0;
  // The database engine's file version when it is loaded; else empty.
  virtual std::string BdeVersion() = 0;
  virtual std::string CompiledWith() = 0;
  virtual std::string KestrixVersion() = 0;
  // Header items of the report plug-ins: name and the text's producer.
  virtual std::vector<std::pair<std::string, std::function<std::string()>>> PluginItems() = 0;
};

struct THeaderItems {
  TFieldList items;
  // Where items added later (the additional fields) go: the number of
  // items asked for, present or not, minus one.
  int insertionIndex = -1;
};

// The items before "callstack crc", values trimmed.
THeaderItems CollectHeaderItems(IHeaderFacts& facts);

// "1.2.3.4" from a file version's two words.
std::string FileVersionText(uint32_t versionMS, uint32_t versionLS);

// The items after them: "callstack crc" (its value follows when the call
// stacks are known), "exception number", "exception class" (not for a
// freeze), "exception message" (not when it only repeats the class name).
TFieldList ExceptionHeaderItems(const std::string& crcPlaceholder, uint64_t number, bool freeze,
                                const std::string& className, const std::string& message);

}  // namespace kestrix
