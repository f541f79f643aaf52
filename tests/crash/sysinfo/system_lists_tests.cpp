// The module, process and hardware lists: column widths, alignment, path
// rewriting and the device classes' order.
#include <gtest/gtest.h>

#include <map>

#include "crash/sysinfo/system_lists.h"

namespace kestrix {
namespace {

TEST(ModuleList, ColumnsAsWideAsTheLongestEntryPlusOne) {
  const std::vector<TModuleEntry> modules = {
      {0x400000, "lab.exe", "C:\\lab", "1.2.3.4"},
      {0x7bc10000, "kernel32.dll", "C:\\windows\\system32", "6.1.7601.24000"},
      {0x10000000, "noversion.dll", "D:\\x", ""},
  };
  EXPECT_EQ(ModuleListText(modules),
            "00400000 lab.exe       1.2.3.4        C:\\lab\r\n"
            "7bc10000 kernel32.dll  6.1.7601.24000 C:\\windows\\system32\r\n"
            "10000000 noversion.dll                D:\\x");
  // Without any version the column is one blank.
  EXPECT_EQ(ModuleListText({{0x400000, "a.exe", "C:", ""}}), "00400000 a.exe  C:");
  EXPECT_EQ(ModuleListText({}), "");
}

TEST(ModuleList, SplitPathAtTheLastBackslash) {
  std::string dir, name;
  SplitPath("C:\\windows\\system32\\ntdll.dll", dir, name);
  EXPECT_EQ(dir, "C:\\windows\\system32");
  EXPECT_EQ(name, "ntdll.dll");
  SplitPath("Idle", dir, name);
  EXPECT_EQ(dir, "");
  EXPECT_EQ(name, "Idle");
  SplitPath("C:\\", dir, name);
  EXPECT_EQ(dir, "C:");
  EXPECT_EQ(name, "");
}

TEST(ProcessList, AllSessionsZeroHaveNoSessionColumn) {
  std::vector<TProcessEntry> p(3);
  p[0] = {"Idle", "", 0, 0, -1};
  p[1] = {"explorer.exe", "C:\\windows", 0x1a4, 0, 32};
  p[2] = {"lab.exe", "Z:\\tmp", 0x10c, 0, 32768};
  EXPECT_EQ(ProcessListText(p),
            "000 Idle                      \r\n"
            "1a4 explorer.exe normal       C:\\windows\r\n"
            "10c lab.exe      above normal Z:\\tmp");
}

TEST(ProcessList, SessionColumnFromTheNonZeroSessions) {
  std::vector<TProcessEntry> p(3);
  p[0] = {"System", "", 4, 0, 32};
  p[1] = {"a.exe", "C:", 0x20, 1, 64};
  p[2] = {"b.exe", "C:", 0x1000, 12, 0x1234};
  EXPECT_EQ(ProcessListText(p),
            "0004 System 0  normal \r\n"
            "0020 a.exe  1  idle   C:\r\n"
            "1000 b.exe  12 $1234  C:");
}

TEST(ProcessList, PriorityClassTexts) {
  const std::map<int64_t, std::string> expected = {
      {32, "normal"},          {64, "idle"},  {128, "high"}, {256, "realtime"},
      {16384, "below normal"}, {32768, "above normal"},       {0, ""},
      {-1, ""},                {0x4000000, "$4000000"},       {1, "$1"}};
  for (const auto& [value, text] : expected) EXPECT_EQ(PriorityClassText(value), text) << value;
}

TEST(ProcessList, NativePathsMadePlain) {
  const std::string sys = "C:\\windows\\system32";
  EXPECT_EQ(PlainProcessPath("\\SystemRoot\\System32\\smss.exe", sys), "C:\\windows\\system32\\smss.exe");
  EXPECT_EQ(PlainProcessPath("\\systemroot\\SYSTEM32\\csrss.exe", sys), "C:\\windows\\system32\\csrss.exe");
  EXPECT_EQ(PlainProcessPath("\\??\\C:\\windows\\system32\\winlogon.exe", sys),
            "C:\\windows\\system32\\winlogon.exe");
  EXPECT_EQ(PlainProcessPath("\\SystemRoot\\System32", sys), "\\SystemRoot\\System32") << "prefix needs its \\";
  EXPECT_EQ(PlainProcessPath("C:\\lab\\lab.exe", sys), "C:\\lab\\lab.exe");
}

TEST(Hardware, LowerCaseOfCodePage1252) {
  EXPECT_EQ(LowerCase1252('A'), 'a');
  EXPECT_EQ(LowerCase1252('['), '[');
  EXPECT_EQ(LowerCase1252(0xC4), 0xE4);  // A with diaeresis
  EXPECT_EQ(LowerCase1252(0xDE), 0xFE);  // thorn
  EXPECT_EQ(LowerCase1252(0xD7), 0xD7);  // the multiplication sign has no case
  EXPECT_EQ(LowerCase1252(0xDF), 0xDF);  // sharp s
  EXPECT_EQ(LowerCase1252(0x8A), 0x9A);
  EXPECT_EQ(LowerCase1252(0x8C), 0x9C);
  EXPECT_EQ(LowerCase1252(0x8E), 0x9E);
  EXPECT_EQ(LowerCase1252(0x9F), 0xFF);
  EXPECT_EQ(CompareText1252("\xC4rger", "\xE4RGER"), 0);
  EXPECT_LT(CompareText1252("Port", "ports"), 0) << "on a common prefix the shorter is less";
  EXPECT_LT(CompareText1252("_x", "Ax"), 0) << "compared as \"ax\": '_' comes first";
}

std::vector<std::string> ClassNames(const THardwareList& list) {
  std::vector<std::string> names;
  for (const TDeviceClass& c : list.Classes()) names.push_back(c.name);
  return names;
}

TEST(Hardware, ClassesSortedIgnoringCaseAndTwoForNamesDifferingInCase) {
  THardwareList list;
  list.InsertDevice("Ports", "COM1", "");
  list.InsertDevice("Display", "VGA", "");
  list.InsertDevice("ports", "COM2", "");
  list.InsertDevice("Keyboard", "Standard", "");
  EXPECT_EQ(ClassNames(list), (std::vector<std::string>{"Display", "Keyboard", "ports", "Ports"}))
      << "the class inserted later first";
  // A name already there byte for byte is reused, also behind its twin.
  list.InsertDevice("Ports", "COM3", "");
  list.InsertDevice("ports", "COM0", "");
  EXPECT_EQ(ClassNames(list).size(), 4u);
  EXPECT_EQ(list.Classes()[3].devices.size(), 2u);
  EXPECT_EQ(list.Classes()[2].devices.size(), 2u);
  EXPECT_EQ(list.Classes()[2].devices[0].description, "COM0");
}

TEST(Hardware, DevicesSortedNewestFirstAmongEquals) {
  THardwareList list;
  list.InsertDevice("Disk", "b disk", "k1");
  list.InsertDevice("Disk", "A disk", "k2");
  list.InsertDevice("Disk", "B DISK", "k3");
  const auto& d = list.Classes()[0].devices;
  ASSERT_EQ(d.size(), 3u);
  EXPECT_EQ(d[0].description, "A disk");
  EXPECT_EQ(d[1].driverKey, "k3");
  EXPECT_EQ(d[2].driverKey, "k1");
}

TEST(Hardware, TextWithDriverVersionsOfOtherProviders) {
  THardwareList list;
  list.InsertDevice("Display adapters", "Vendor GPU", "Class\\gpu");
  list.InsertDevice("Display adapters", "Basic", "Class\\basic");
  list.InsertDevice("Ports", "COM1", "");
  list.InsertDevice("Ports", "COM2", "Class\\com2");
  list.InsertDevice("Ports", "COM3", "Class\\com3");
  list.InsertDevice("Ports", "COM4", "Class\\com4");
  list.InsertDevice("Sound", "Card", "Class\\sound");
  std::map<std::string, std::string> registry = {
      {"Class\\gpu|ProviderName", "Vendor"},        {"Class\\gpu|DriverVersion", " 9.18.1 \r\n"},
      {"Class\\basic|ProviderName", "microsoft"},   {"Class\\basic|DriverVersion", "6.1"},
      {"Class\\com2|ProviderName", "(Standard)"},   {"Class\\com2|DriverVersion", "1.0"},
      {"Class\\com3|ProviderName", "Serial Inc."},  {"Class\\com3|DriverDate", "1-2-2020"},
      {"Class\\com4|ProviderName", "Serial Inc."},  {"Class\\sound|DriverVersion", "2.0"},
  };
  auto read = [&](const std::string& key, const std::string& value) { return registry[key + "|" + value]; };
  EXPECT_EQ(HardwareListText(list, read),
            "+ Display adapters\r\n"
            "  - Basic\r\n"
            "  - Vendor GPU (driver 9.18.1)\r\n"
            "+ Ports\r\n"
            "  - COM1\r\n"
            "  - COM2\r\n"
            "  - COM3 (driver 1-2-2020)\r\n"
            "  - COM4\r\n"
            "+ Sound\r\n"
            "  - Card");
  EXPECT_EQ(HardwareListText(THardwareList(), read), "");
}

}  // namespace
}  // namespace kestrix
