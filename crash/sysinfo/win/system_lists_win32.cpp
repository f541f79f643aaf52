#include "crash/sysinfo/win/system_lists_win32.h"

#include <windows.h>

#include <tlhelp32.h>

#include <cstring>
#include <memory>

#include "crash/base/win/scoped_handle.h"
#include "crash/settings/win/settings_object.h"
#include "crash/sysinfo/win/system_calls_win32.h"

namespace kestrix {
namespace {

std::string ModulePathAt(void* base) {
  char path[MAX_PATH];
  const DWORD n = GetModuleFileNameA(static_cast<HMODULE>(base), path, MAX_PATH);
  return n ? std::string(path, n < MAX_PATH ? n : MAX_PATH - 1) : std::string();
}

std::string VersionOf(HMODULE module) {
  uint32_t ms = 0, ls = 0;
  if (!ModuleFileVersion(module, ms, ls) || (ms == 0 && ls == 0)) return std::string();
  return std::to_string(ms >> 16) + "." + std::to_string(ms & 0xFFFF) + "." + std::to_string(ls >> 16) + "." +
         std::to_string(ls & 0xFFFF);
}

std::string WideToAnsi(const wchar_t* text, int length) {
  if (length <= 0) return std::string();
  const int n = WideCharToMultiByte(CP_ACP, 0, text, length, nullptr, 0, nullptr, nullptr);
  std::string result(n > 0 ? n : 0, '\0');
  if (n > 0) WideCharToMultiByte(CP_ACP, 0, text, length, result.data(), n, nullptr, nullptr);
  return result;
}

// The leading part of one entry of the system's process list (32-bit).
struct TProcessRecord {
  ULONG nextEntryOffset;
  ULONG numberOfThreads;
  BYTE reserved[48];
  USHORT nameLength, nameMaximumLength;
  wchar_t* nameBuffer;
  LONG basePriority;
  ULONG_PTR processId;
  ULONG_PTR parentProcessId;
  ULONG handleCount;
  ULONG sessionId;
};
static_assert(offsetof(TProcessRecord, processId) == 0x44 && offsetof(TProcessRecord, sessionId) == 0x50);

using NtQuerySystemInformationFn = LONG(WINAPI*)(ULONG, void*, ULONG, ULONG*);
constexpr ULONG kSystemProcessInformation = 5;

// The process list into `buffer`: the size the system asks for, twice;
// else (or when that fails) 128 KB doubled up to 4 MB.
bool QueryProcessList(NtQuerySystemInformationFn query, std::unique_ptr<char[]>& buffer) {
  ULONG needed = 0;
  query(kSystemProcessInformation, nullptr, 0, &needed);
  if (needed > 0 && needed < 0x4000000) {
    buffer.reset(new char[needed * 2]);
    if (query(kSystemProcessInformation, buffer.get(), needed * 2, nullptr) >= 0) return true;
  }
  for (ULONG size = 65536; size < 4194304;) {
    size *= 2;
    buffer.reset(new char[size]);
    if (query(kSystemProcessInformation, buffer.get(), size, nullptr) >= 0) return true;
  }
  buffer.reset();
  return false;
}

int64_t PriorityClassOf(HANDLE process) {
  const DWORD priority = GetPriorityClass(process);
  return priority ? static_cast<int64_t>(priority) : -1;
}

int64_t PriorityClassOf(DWORD id) {
  if (id == 0) return -1;
  TScopedHandle process(OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, id));
  if (!process) return -1;
  return PriorityClassOf(process.Get());
}

void AddProcess(std::vector<TProcessEntry>& out, const std::string& name, DWORD id, DWORD session,
                int64_t priorityClass) {
  TProcessEntry p;
  SplitPath(name, p.directory, p.fileName);
  p.id = id;
  p.session = session;
  p.priorityClass = priorityClass;
  out.push_back(std::move(p));
}

void CollectNtProcesses(std::vector<TProcessEntry>& out) {
  auto query = SystemCall<NtQuerySystemInformationFn>("ntdll.dll", "NtQuerySystemInformation");
  std::unique_ptr<char[]> buffer;
  if (!query || !QueryProcessList(query, buffer)) return;
  char systemDirectory[MAX_PATH];
  const UINT n = GetSystemDirectoryA(systemDirectory, MAX_PATH);
  const std::string system = n && n < MAX_PATH ? std::string(systemDirectory, n) : std::string();
  using GetModuleFileNameExFn = DWORD(WINAPI*)(HANDLE, HMODULE, char*, DWORD);
  const auto getName = SystemCall<GetModuleFileNameExFn>("psapi.dll", "GetModuleFileNameExA");
  using QueryFullProcessImageNameFn = BOOL(WINAPI*)(HANDLE, DWORD, char*, DWORD*);
  const auto fullName = SystemCall<QueryFullProcessImageNameFn>("kernel32.dll", "QueryFullProcessImageNameA");
  for (const char* at = buffer.get();;) {
    TProcessRecord r;
    std::memcpy(&r, at, sizeof r);
    const DWORD id = static_cast<DWORD>(r.processId);
    std::string name = "Idle";
    int64_t priority = -1;
    if (r.nameBuffer && r.nameLength) name = WideToAnsi(r.nameBuffer, r.nameLength / 2);
    // One handle for the full name and the priority. The full name comes
    // from the system's image name query where there is one (reading the
    // other process's memory costs milliseconds per process), else from
    // its main module.
    TScopedHandle process;
    if (id && r.nameBuffer)
      process.Reset(OpenProcess(fullName ? PROCESS_QUERY_LIMITED_INFORMATION
                                     : PROCESS_QUERY_INFORMATION | PROCESS_VM_READ,
                            FALSE, id));
    if (process) {
      char path[MAX_PATH];
      DWORD n = MAX_PATH;
      if (fullName) {
        if (!fullName(process.Get(), 0, path, &n)) n = 0;
      } else {
        n = getName ? getName(process.Get(), nullptr, path, MAX_PATH) : 0;
      }
      if (n && n < MAX_PATH) name = PlainProcessPath(std::string(path, n), system);
      priority = PriorityClassOf(process.Get());
    } else {
      priority = PriorityClassOf(id);
    }
    AddProcess(out, name, id, r.sessionId, priority);
    if (!r.nextEntryOffset) break;
    at += r.nextEntryOffset;
  }
}

void Collect9xProcesses(std::vector<TProcessEntry>& out) {
  TScopedHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return;
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32First(snapshot.Get(), &entry); more; more = Process32Next(snapshot.Get(), &entry))
    AddProcess(out, entry.szExeFile, entry.th32ProcessID, 0, PriorityClassOf(entry.th32ProcessID));
}

const char kNtClassKey[] = "System\\CurrentControlSet\\Control\\Class\\";
const char k9xClassKey[] = "System\\CurrentControlSet\\Services\\Class\\";

bool HiddenDriver(const std::string& driverKey) {
  const std::string value = RegistryValue(HKEY_LOCAL_MACHINE, driverKey, "Characteristics");
  return value.size() == 4 && (static_cast<unsigned char>(value[0]) & 8) != 0;
}

void CollectNtHardware(THardwareList& list) {
  using GetClassDevsFn = HANDLE(WINAPI*)(const GUID*, const char*, HWND, DWORD);
  using EnumDeviceInfoFn = BOOL(WINAPI*)(HANDLE, DWORD, void*);
  using GetPropertyFn = BOOL(WINAPI*)(HANDLE, void*, DWORD, DWORD*, BYTE*, DWORD, DWORD*);
  using DestroyListFn = BOOL(WINAPI*)(HANDLE);
  auto getClassDevs = SystemCall<GetClassDevsFn>("setupapi.dll", "SetupDiGetClassDevsA");
  auto enumDevice = SystemCall<EnumDeviceInfoFn>("setupapi.dll", "SetupDiEnumDeviceInfo");
  auto getProperty = SystemCall<GetPropertyFn>("setupapi.dll", "SetupDiGetDeviceRegistryPropertyA");
  auto destroy = SystemCall<DestroyListFn>("setupapi.dll", "SetupDiDestroyDeviceInfoList");
  if (!getClassDevs || !enumDevice || !getProperty || !destroy) return;
  HANDLE set = getClassDevs(nullptr, nullptr, nullptr, 0x2 | 0x4 /* DIGCF_PRESENT | DIGCF_ALLCLASSES */);
  if (set == INVALID_HANDLE_VALUE) return;
  struct {
    DWORD cbSize;
    GUID classGuid;
    DWORD devInst;
    ULONG_PTR reserved;
  } device;
  // A property as text (a multi-string's first string); "" when absent.
  auto property = [&](DWORD which) {
    char buf[1024] = {};
    DWORD type = 0;
    if (!getProperty(set, &device, which, &type, reinterpret_cast<BYTE*>(buf), sizeof buf - 2, nullptr))
      return std::string();
    return std::string(buf);
  };
  enum : DWORD { kDeviceDesc = 0, kHardwareId = 1, kClass = 7, kClassGuid = 8, kDriver = 9, kFriendlyName = 12 };
  for (DWORD i = 0;; ++i) {
    std::memset(&device, 0, sizeof device);
    device.cbSize = sizeof device;
    if (!enumDevice(set, i, &device)) break;
    std::string className = property(kClass);
    if (className == "LegacyDriver" || className == "Unknown" || className == "Volume" ||
        StartsWithText1252(property(kHardwareId), "sw\\"))
      continue;
    const std::string guid = property(kClassGuid);
    className = RegistryValue(HKEY_LOCAL_MACHINE, kNtClassKey + guid, "");
    if (className.empty()) className = guid;
    if (className.empty()) continue;
    std::string description = property(kFriendlyName);
    if (description.empty()) description = property(kDeviceDesc);
    const std::string driver = property(kDriver);
    const std::string driverKey = driver.empty() ? std::string() : kNtClassKey + driver;
    if (!driverKey.empty() && HiddenDriver(driverKey)) continue;
    list.InsertDevice(className, description, driverKey);
  }
  destroy(set);
}

void Collect9xHardware(THardwareList& list) {
  std::vector<std::string> subkeys;
  {
    TScopedRegistryKey enumKey;
    if (RegOpenKeyExA(HKEY_DYN_DATA, "Config Manager\\Enum", 0, KEY_READ, enumKey.Receive()) != ERROR_SUCCESS)
      return;
    char name[MAX_PATH];
    for (DWORD i = 0; RegEnumKeyA(enumKey.Get(), i, name, sizeof name) == ERROR_SUCCESS; ++i)
      subkeys.push_back(name);
  }
  for (auto it = subkeys.rbegin(); it != subkeys.rend(); ++it) {
    const std::string entry = "Config Manager\\Enum\\" + *it;
    const std::string hardwareKey = RegistryValue(HKEY_DYN_DATA, entry, "HardWareKey");
    const std::string problem = RegistryValue(HKEY_DYN_DATA, entry, "Problem");
    uint32_t problemCode = 0;
    if (problem.size() == 4) std::memcpy(&problemCode, problem.data(), 4);
    bool swEnum = false;
    for (size_t at = 0; !swEnum && at + 8 <= hardwareKey.size(); ++at)
      swEnum = CompareText1252(hardwareKey.substr(at, 8), "\\SWENUM\\") == 0;
    if ((problem.size() == 4 && problemCode == 22) || swEnum) continue;
    const std::string device = "Enum\\" + hardwareKey;
    std::string className = RegistryValue(HKEY_LOCAL_MACHINE, device, "Class");
    if (className.empty() || className == "NetClient" || className == "NetService" || className == "NetTrans")
      continue;
    className = RegistryValue(HKEY_LOCAL_MACHINE, k9xClassKey + className, "");
    std::string description = RegistryValue(HKEY_LOCAL_MACHINE, device, "DeviceDesc");
    const std::string letter = RegistryValue(HKEY_LOCAL_MACHINE, device, "CurrentDriveLetterAssignment");
    if (!letter.empty()) description = "[" + letter + ":] " + description;
    const std::string driver = RegistryValue(HKEY_LOCAL_MACHINE, device, "Driver");
    list.InsertDevice(className, description, driver.empty() ? std::string() : k9xClassKey + driver);
  }
}

std::string ModulesPlugin(IKXException*) { return ModuleListText(); }
std::string ProcessesPlugin(IKXException*) { return ProcessListText(); }
std::string HardwarePlugin(IKXException*) { return HardwareListText(); }

}  // namespace

std::vector<TModuleEntry> CollectModules() {
  std::vector<TModuleEntry> modules;
  uintptr_t address = 0;
  void* lastAllocation = reinterpret_cast<void*>(1);
  MEMORY_BASIC_INFORMATION info;
  while (VirtualQuery(reinterpret_cast<void*>(address), &info, sizeof info) == sizeof info) {
    if (info.State == MEM_COMMIT && info.AllocationBase != lastAllocation) {
      lastAllocation = info.AllocationBase;
      if (info.BaseAddress == info.AllocationBase) {
        const std::string path = ModulePathAt(info.AllocationBase);
        if (!path.empty()) {
          TModuleEntry m;
          m.address = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(info.AllocationBase));
          SplitPath(path, m.directory, m.fileName);
          m.version = VersionOf(static_cast<HMODULE>(info.AllocationBase));
          modules.push_back(std::move(m));
        }
      }
    }
    const uintptr_t next = reinterpret_cast<uintptr_t>(info.BaseAddress) + info.RegionSize;
    if (next <= address) break;
    address = next;
  }
  return modules;
}

std::vector<TProcessEntry> CollectProcesses() {
  std::vector<TProcessEntry> processes;
  if (IsWin9xFamily())
    Collect9xProcesses(processes);
  else
    CollectNtProcesses(processes);
  return processes;
}

THardwareList CollectHardware() {
  THardwareList list;
  if (IsWin9xFamily())
    Collect9xHardware(list);
  else
    CollectNtHardware(list);
  return list;
}

std::string ModuleListText() { return ModuleListText(CollectModules()); }
std::string ProcessListText() { return ProcessListText(CollectProcesses()); }
std::string HardwareListText() {
  return HardwareListText(CollectHardware(), [](const std::string& key, const std::string& value) {
    return RegistryValue(HKEY_LOCAL_MACHINE, key, value.c_str());
  });
}

const TSystemListPlugin kSystemListPlugins[3] = {
    {"modules", "list of loaded modules", ModulesPlugin},
    {"processes", "list of running processes", ProcessesPlugin},
    {"hardware", "list of installed hardware", HardwarePlugin},
};

}  // namespace kestrix
