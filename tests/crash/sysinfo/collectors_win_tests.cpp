// The collectors under Wine, each against a source of its own: the module
// list against a tool-help snapshot, the process list against child
// processes this program starts, the processor and the screen against what
// the driver script read on the Linux side.
#include <windows.h>

#include <gtest/gtest.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <sstream>

#include "crash/sysinfo/win/system_info_win32.h"
#include "crash/sysinfo/win/system_lists_win32.h"
#include "tests/helpers/wait.h"

namespace kestrix {
namespace {

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(LowerCase1252(static_cast<unsigned char>(c)));
  return s;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t at = 0;
  while (!text.empty()) {
    const size_t end = text.find("\r\n", at);
    lines.push_back(text.substr(at, end == std::string::npos ? std::string::npos : end - at));
    if (end == std::string::npos) break;
    at = end + 2;
  }
  return lines;
}

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

std::string CollapseBlanks(const std::string& text) {
  std::istringstream in(text);
  std::string word, out;
  while (in >> word) out += (out.empty() ? "" : " ") + word;
  return out;
}

TEST(Collectors, ModuleListMatchesAToolHelpSnapshot) {
  std::map<uint32_t, std::string> expected;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, 0);
  ASSERT_NE(snapshot, INVALID_HANDLE_VALUE);
  MODULEENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Module32First(snapshot, &entry); more; more = Module32Next(snapshot, &entry))
    expected[static_cast<uint32_t>(reinterpret_cast<uintptr_t>(entry.modBaseAddr))] = Lower(entry.szExePath);
  CloseHandle(snapshot);
  ASSERT_GT(expected.size(), 3u);

  const std::vector<TModuleEntry> modules = CollectModules();
  std::map<uint32_t, std::string> found;
  uint32_t previous = 0;
  for (const TModuleEntry& m : modules) {
    EXPECT_GT(m.address, previous) << "address order";
    previous = m.address;
    found[m.address] = Lower(m.directory + "\\" + m.fileName);
  }
  EXPECT_EQ(found, expected);

  // The text: one line per module, the name column one wider than the
  // longest name, the executable's version empty (it has none).
  const std::vector<std::string> lines = Lines(ModuleListText());
  ASSERT_EQ(lines.size(), modules.size());
  size_t nameWidth = 0;
  for (const TModuleEntry& m : modules) nameWidth = std::max(nameWidth, m.fileName.size());
  for (size_t i = 0; i < lines.size(); ++i) {
    char address[12];
    std::snprintf(address, sizeof address, "%08x ", modules[i].address);
    EXPECT_EQ(lines[i].substr(0, 9), address);
    EXPECT_EQ(lines[i].substr(9, nameWidth + 1), modules[i].fileName + std::string(nameWidth + 1 - modules[i].fileName.size(), ' '));
  }
  const auto exe = std::find_if(modules.begin(), modules.end(), [](const TModuleEntry& m) {
    return m.address == reinterpret_cast<uintptr_t>(GetModuleHandleA(nullptr));
  });
  ASSERT_NE(exe, modules.end());
  EXPECT_EQ(Lower(exe->fileName), "sysinfo_tests.exe");
  EXPECT_EQ(exe->version, "");
  const auto kernel = std::find_if(modules.begin(), modules.end(),
                                   [](const TModuleEntry& m) { return Lower(m.fileName) == "kernel32.dll"; });
  ASSERT_NE(kernel, modules.end());
  EXPECT_EQ(std::count(kernel->version.begin(), kernel->version.end(), '.'), 3) << kernel->version;
}

// Child processes of this program that sleep until they are ended.
class TChildren {
 public:
  ~TChildren() {
    for (const PROCESS_INFORMATION& p : children_) {
      TerminateProcess(p.hProcess, 0);
      WaitForSingleObject(p.hProcess, 5000);
      CloseHandle(p.hProcess);
      CloseHandle(p.hThread);
    }
  }
  DWORD Start(DWORD priorityClass) {
    char exe[MAX_PATH];
    GetModuleFileNameA(nullptr, exe, MAX_PATH);
    std::string command = std::string("\"") + exe + "\" --sleep";
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessA(exe, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return 0;
    children_.push_back(pi);
    // Set afterwards: Wine starts every process at normal priority.
    if (!SetPriorityClass(pi.hProcess, priorityClass)) return 0;
    WaitForInputIdle(pi.hProcess, 2000);
    return pi.dwProcessId;
  }

 private:
  std::vector<PROCESS_INFORMATION> children_;
};

TEST(Collectors, ProcessListShowsTheProcessesStarted) {
  TChildren children;
  const DWORD idle = children.Start(IDLE_PRIORITY_CLASS);
  const DWORD below = children.Start(BELOW_NORMAL_PRIORITY_CLASS);
  const DWORD high = children.Start(HIGH_PRIORITY_CLASS);
  ASSERT_TRUE(idle && below && high);
  // The children are up and have their modules.
  testhelpers::WaitUntil([&] {
    int up = 0;
    for (const TProcessEntry& p : CollectProcesses())
      up += (p.id == idle || p.id == below || p.id == high) && !p.fileName.empty() && !p.directory.empty();
    return up == 3;
  }, 10000, 50);

  char exe[MAX_PATH];
  GetModuleFileNameA(nullptr, exe, MAX_PATH);
  std::string directory, name;
  SplitPath(exe, directory, name);

  const std::vector<TProcessEntry> processes = CollectProcesses();
  std::map<uint32_t, TProcessEntry> byId;
  for (const TProcessEntry& p : processes) byId[p.id] = p;
  const std::map<DWORD, std::string> expected = {
      {GetCurrentProcessId(), "normal"}, {idle, "idle"}, {below, "below normal"}, {high, "high"}};
  for (const auto& [id, priority] : expected) {
    SCOPED_TRACE(id);
    ASSERT_TRUE(byId.count(id)) << "process not listed";
    EXPECT_EQ(Lower(byId[id].fileName), Lower(name));
    EXPECT_EQ(Lower(byId[id].directory), Lower(directory)) << "the full path of the main module";
    EXPECT_EQ(PriorityClassText(byId[id].priorityClass), priority);
  }

  // In the text: the id zero-padded to the widest id, the name after it.
  const std::string text = ProcessListText();
  size_t idWidth = 0;
  for (const TProcessEntry& p : processes) idWidth = std::max(idWidth, static_cast<size_t>(std::snprintf(nullptr, 0, "%x", p.id)));
  char own[16];
  std::snprintf(own, sizeof own, "%0*lx ", static_cast<int>(idWidth), GetCurrentProcessId());
  bool listed = false;
  for (const std::string& line : Lines(text))
    if (line.compare(0, idWidth + 1, own) == 0) {
      listed = true;
      EXPECT_EQ(Lower(line.substr(idWidth + 1, name.size())), Lower(name)) << line;
      EXPECT_NE(line.find(" normal "), std::string::npos) << line;
    }
  EXPECT_TRUE(listed) << text;
}

TEST(Collectors, ProcessorFromProcCpuinfo) {
  const std::string expected = Env("KX_EXPECT_CPU");
  if (expected.empty()) GTEST_SKIP() << "no /proc/cpuinfo name given";
  EXPECT_EQ(CollapseBlanks(CpuNameText()), expected);
  EXPECT_EQ(CpuNameText(), TrimControls(CpuNameText()));
  SYSTEM_INFO si;
  GetSystemInfo(&si);
  EXPECT_EQ(CountProcessors(), std::min<int>(16, si.dwNumberOfProcessors));
}

TEST(Collectors, DisplayModeOfTheXScreen) {
  const std::string text = DisplayModeText();
  const std::string screen = Env("KX_EXPECT_SCREEN");
  if (!screen.empty()) {
    EXPECT_EQ(text.substr(0, screen.size() + 2), screen + ", ") << text;
  }
  char metrics[32];
  std::snprintf(metrics, sizeof metrics, "%dx%d, ", GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
  EXPECT_EQ(text.substr(0, std::strlen(metrics)), metrics);
  EXPECT_TRUE(text.size() > 4 && text.compare(text.size() - 4, 4, " bit") == 0) << text;
}

TEST(Collectors, AllocatedMemoryFollowsPrivateAllocations) {
  const uint32_t before = PrivateCommittedBytes();
  const size_t size = 16 << 20;
  void* block = VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  ASSERT_NE(block, nullptr);
  const uint32_t during = PrivateCommittedBytes();
  VirtualFree(block, 0, MEM_RELEASE);
  const uint32_t after = PrivateCommittedBytes();
  // Other threads of the process may allocate meanwhile: a megabyte of slack.
  EXPECT_GE(during, before + size - (1 << 20));
  EXPECT_LE(during, before + size + (1 << 20));
  EXPECT_LE(after + size - (1 << 20), during);
  EXPECT_GT(before, 0u) << "the heaps and stacks";
}

TEST(Collectors, FormatSizeWithTheLocalesSeparator) {
  char separator[8] = ",";
  GetLocaleInfoA(GetThreadLocale(), LOCALE_SDECIMAL, separator, sizeof separator);
  EXPECT_EQ(FormatSize(1536), std::string("1") + separator[0] + "50 KB");
  EXPECT_EQ(AllocatedMemoryText().empty(), false);
}

TEST(Collectors, ProcessAndUserFacts) {
  NoteProgramStart();
  Sleep(50);  // the up time measured below
  const std::string up = ProgramUpTimeText();
  ASSERT_TRUE(up.size() > 13 && up.compare(up.size() - 13, 13, " milliseconds") == 0) << up;
  const int ms = std::atoi(up.c_str());
  EXPECT_GE(ms, 45);
  EXPECT_LT(ms, 1000);

  const TOS os = QueryOsInfo();
  const DWORD version = GetVersion();
  EXPECT_EQ(os.WinNt, (version & 0x80000000u) == 0);
  EXPECT_EQ(os.Major, version & 0xFF);
  EXPECT_EQ(os.Minor, (version >> 8) & 0xFF);
  EXPECT_EQ(OsVersionText().rfind(OsName(os.OsIndex), 0), 0u) << OsVersionText();
  EXPECT_NE(OsVersionText().find(" build " + std::to_string(os.Build)), std::string::npos);

  using IsUserAnAdminFn = BOOL(WINAPI*)();
  HMODULE shell = LoadLibraryA("shell32.dll");
  auto isAdmin = reinterpret_cast<IsUserAnAdminFn>(reinterpret_cast<void*>(GetProcAddress(shell, "IsUserAnAdmin")));
  ASSERT_NE(isAdmin, nullptr);
  EXPECT_EQ(HasAdminRights(), isAdmin() != 0);
  EXPECT_EQ(UserNameText().find("  <admin>") != std::string::npos, HasAdminRights());
  if (!GetSystemMetrics(SM_REMOTESESSION)) {
    EXPECT_EQ(RemoteClientName(), "");
  }
  EXPECT_FALSE(OsLanguageText().empty());
  EXPECT_FALSE(FreeDiskSpaceText().empty());
  EXPECT_EQ(FreeDiskSpaceText().rfind("(C:) ", 0), 0u) << FreeDiskSpaceText();
}

// Sets (or, with null, deletes) a value of the system's registration
// record; gives the value it had.
std::string SetRegistration(const char* name, const char* value) {
  const char* key = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
  char old[256] = {};
  DWORD size = sizeof old - 1;
  RegGetValueA(HKEY_LOCAL_MACHINE, key, name, RRF_RT_REG_SZ, nullptr, old, &size);
  HKEY h;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_SET_VALUE, &h) == ERROR_SUCCESS) {
    if (value)
      RegSetValueExA(h, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value), std::strlen(value) + 1);
    else
      RegDeleteValueA(h, name);
    RegCloseKey(h);
  }
  return old;
}

TEST(Collectors, RegisteredOwnerAndOrganization) {
  const std::string owner = SetRegistration("RegisteredOwner", "Lab Owner");
  const std::string organization = SetRegistration("RegisteredOrganization", "Lab Org");
  EXPECT_EQ(RegisteredOwnerText(), "Lab Owner / Lab Org");
  SetRegistration("RegisteredOrganization", nullptr);
  EXPECT_EQ(RegisteredOwnerText(), "Lab Owner");
  SetRegistration("RegisteredOwner", owner.empty() ? nullptr : owner.c_str());
  SetRegistration("RegisteredOrganization", organization.empty() ? nullptr : organization.c_str());
}

TEST(Collectors, HardwareListIsSortedByClass) {
  const THardwareList list = CollectHardware();
  for (size_t i = 1; i < list.Classes().size(); ++i)
    EXPECT_LE(CompareText1252(list.Classes()[i - 1].name, list.Classes()[i].name), 0);
  size_t devices = 0;
  for (const std::string& line : Lines(HardwareListText())) {
    const bool cls = line.rfind("+ ", 0) == 0, device = line.rfind("  - ", 0) == 0;
    EXPECT_TRUE(cls || device) << line;
    devices += device;
  }
  size_t expected = 0;
  for (const TDeviceClass& c : list.Classes()) expected += c.devices.size();
  EXPECT_EQ(devices, expected);
  ::testing::Test::RecordProperty("devices", static_cast<int>(devices));
}

TEST(Collectors, ThePlugInsNamesAndDescriptions) {
  EXPECT_STREQ(kSystemListPlugins[0].name, "modules");
  EXPECT_STREQ(kSystemListPlugins[0].description, "list of loaded modules");
  EXPECT_STREQ(kSystemListPlugins[1].name, "processes");
  EXPECT_STREQ(kSystemListPlugins[1].description, "list of running processes");
  EXPECT_STREQ(kSystemListPlugins[2].name, "hardware");
  EXPECT_STREQ(kSystemListPlugins[2].description, "list of installed hardware");
  EXPECT_EQ(kSystemListPlugins[0].procedure(nullptr).substr(0, 8), ModuleListText().substr(0, 8));
}

}  // namespace
}  // namespace kestrix

int main(int argc, char** argv) {
  // A child of the process-list test: sleeps until its parent ends it.
  if (argc > 1 && std::strcmp(argv[1], "--sleep") == 0) {
    Sleep(60000);
    return 0;
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
