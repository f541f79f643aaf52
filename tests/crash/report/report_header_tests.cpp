// The report header's items from a source of facts: order, presence rules,
// failing facts, the insertion index and the exception's items.
#include <gtest/gtest.h>

#include <stdexcept>

#include "crash/report/report_header.h"

namespace kestrix {
namespace {

// Every fact present, one processor unless told otherwise; a fact named in
// `failing` throws.
class TFakeFacts : public IHeaderFacts {
 public:
  std::string failing;
  int processors = 2;
  std::string processorName = "AMD EPYC";
  std::string commandLine = "\"lab.exe\" crash";
  std::string otherModule;
  std::string version = "1.0.0.0";
  std::string bde;
  std::string resources;  // the 9x family's item
  std::vector<std::pair<std::string, std::function<std::string()>>> plugins;

  std::string Fact(const char* name, std::string value) {
    if (failing == name) throw std::runtime_error(name);
    return value;
  }
  std::string DateTime() override { return Fact("date", "2026-12-07, 10:00:00, 5ms"); }
  std::string ComputerName() override { return Fact("computer", "VM"); }
  std::string WtsClientName() override { return Fact("wts", ""); }
  std::string UserName() override { return Fact("user", "  root <admin>  "); }
  std::string RegisteredOwner() override { return Fact("owner", "Quorrin"); }
  std::string OperatingSystem() override { return Fact("os", "Windows 6.1 build 7601"); }
  std::string SystemLanguage() override { return Fact("language", "English"); }
  std::string SystemUpTime() override { return Fact("sysup", "0 days 1 hour"); }
  std::string ProgramUpTime() override { return Fact("progup", "1 second"); }
  int ProcessorCount() override {
    if (failing == "count") throw std::runtime_error("count");
    return processors;
  }
  std::string ProcessorName() override { return Fact("cpu", processorName); }
  std::string PhysicalMemory() override { return Fact("memory", "100 MB/200 MB"); }
  std::string SystemResources() override { return Fact("resources", resources); }
  std::string FreeDiskSpace() override { return Fact("disk", "(C:) 1 MB"); }
  std::string DisplayMode() override { return Fact("display", "1024x768, 32 bit"); }
  uint32_t ProcessId() override { return 0x1a4; }
  std::string AllocatedMemory() override { return Fact("allocated", "1000 bytes"); }
  std::string CommandLineWithParameters() override { return Fact("cmd", commandLine); }
  std::string ExecutableName() override { return Fact("exe", "lab.exe"); }
  std::string OtherModuleName() override { return Fact("module", otherModule); }
  std::string ModuleDateTime() override { return Fact("moddate", "2026-12-07 09:00"); }
  std::string Version() override { return Fact("version", version); }
  std::string BdeVersion() override { return Fact("bde", bde); }
  std::string CompiledWith() override { return Fact("compiler", "GCC"); }
  std::string KestrixVersion() override { return "3.0e"; }
  std::vector<std::pair<std::string, std::function<std::string()>>> PluginItems() override { return plugins; }
};

std::vector<std::string> Names(const TFieldList& items) {
  std::vector<std::string> names;
  for (const auto& item : items) names.push_back(item.first);
  return names;
}

TEST(ReportHeader, ItemsInOrderWithTrimmedValues) {
  TFakeFacts f;
  f.plugins = {{"labitem", [] { return " plug-in text "; }}};
  const THeaderItems h = CollectHeaderItems(f);
  EXPECT_EQ(Names(h.items),
            (std::vector<std::string>{"date/time", "computer name", "user name", "registered owner",
                                      "operating system", "system language", "system up time", "program up time",
                                      "processors", "physical memory", "free disk space", "display mode",
                                      "process id", "allocated memory", "command line", "executable",
                                      "exec. date/time", "version", "compiled with", "Kestrix version", "labitem"}));
  EXPECT_EQ(h.items[2].second, "root <admin>");
  EXPECT_EQ(h.items[8].second, "2x AMD EPYC");
  EXPECT_EQ(h.items[12].second, "$1a4");
  EXPECT_EQ(h.items.back().second, "plug-in text");
  // 22 items asked for ("wts client name" among them, empty): the fields go
  // in before the last one asked for.
  EXPECT_EQ(h.insertionIndex, 21);
}

TEST(ReportHeader, PresenceRules) {
  TFakeFacts f;
  f.processors = 1;
  f.commandLine = "";
  f.otherModule = "lab_settings.dll";
  f.version = "";
  f.bde = "5.2.0.2";
  THeaderItems h = CollectHeaderItems(f);
  std::vector<std::string> names = Names(h.items);
  auto has = [&](const char* n) { return std::find(names.begin(), names.end(), n) != names.end(); };
  EXPECT_TRUE(has("processor"));
  EXPECT_FALSE(has("processors"));
  EXPECT_FALSE(has("command line")) << "only with parameters";
  EXPECT_TRUE(has("current module"));
  EXPECT_TRUE(has("module date/time"));
  EXPECT_FALSE(has("exec. date/time"));
  EXPECT_FALSE(has("version"));
  EXPECT_TRUE(has("bde version"));
  EXPECT_EQ(h.insertionIndex, 20);
  // One processor without a name: no item, and it does not count.
  f.processorName = " ";
  h = CollectHeaderItems(f);
  names = Names(h.items);
  EXPECT_FALSE(has("processor"));
  EXPECT_EQ(h.insertionIndex, 19);
}

TEST(ReportHeader, SystemResourcesOnlyWhereKnown) {
  TFakeFacts f;
  const int without = CollectHeaderItems(f).insertionIndex;
  f.resources = "07/35 (gdi/user)";
  const THeaderItems h = CollectHeaderItems(f);
  const std::vector<std::string> names = Names(h.items);
  auto at = std::find(names.begin(), names.end(), "system resources");
  ASSERT_NE(at, names.end());
  EXPECT_EQ(*(at - 1), "physical memory");
  EXPECT_EQ(*(at + 1), "free disk space");
  EXPECT_EQ(h.insertionIndex, without + 1) << "asked for only where it is known";
}

TEST(ReportHeader, AFailingFactLeavesOnlyItsItemOut) {
  for (const char* fact : {"date", "user", "cpu", "count", "cmd", "module", "version", "bde", "moddate"}) {
    SCOPED_TRACE(fact);
    TFakeFacts f;
    f.failing = fact;
    f.plugins = {{"good", [] { return "yes"; }}, {"bad", []() -> std::string { throw std::logic_error("x"); }}};
    const THeaderItems h = CollectHeaderItems(f);
    const std::vector<std::string> names = Names(h.items);
    EXPECT_EQ(names.front() == "date/time", std::string(fact) != "date");
    EXPECT_NE(std::find(names.begin(), names.end(), "executable"), names.end());
    EXPECT_NE(std::find(names.begin(), names.end(), "good"), names.end());
    EXPECT_EQ(std::find(names.begin(), names.end(), "bad"), names.end());
  }
}

TEST(ReportHeader, ExceptionItems) {
  EXPECT_EQ(ExceptionHeaderItems("soon", 3, false, "EAccessViolation", "Access violation at ..."),
            (TFieldList{{"callstack crc", "soon"}, {"exception number", "3"},
                        {"exception class", "EAccessViolation"}, {"exception message", "Access violation at ..."}}));
  EXPECT_EQ(Names(ExceptionHeaderItems("soon", 1, false, "Unknown", "Unknown")),
            (std::vector<std::string>{"callstack crc", "exception number", "exception class"}))
      << "a message that only repeats the class";
  EXPECT_EQ(Names(ExceptionHeaderItems("soon", 1, true, "", "The application seems to be frozen.")),
            (std::vector<std::string>{"callstack crc", "exception number", "exception message"}));
  EXPECT_EQ(FileVersionText(0x00010002, 0x00030004), "1.2.3.4");
}

}  // namespace
}  // namespace kestrix
