#include "crash/sysinfo/win/system_info_win32.h"

#include <cstdio>
#include <type_traits>

#include "crash/base/win/scoped_gdi.h"
#include "crash/sysinfo/win/system_calls_win32.h"

namespace kestrix {
namespace {

// The system information's state: the program's start, written once by
// the library's start-up (NoteProgramStart, in its static initializer) and
// read by every report. Constant-initialized, no destructor.
struct TSystemInfoState {
  bool startNoted = false;  // false without a performance counter
  int64_t startMs = 0;
};
constinit TSystemInfoState g_state;
static_assert(std::is_trivially_destructible_v<TSystemInfoState>, "no destructor runs at the process's end");

// The performance counter in milliseconds; false without one.
bool CounterMilliseconds(int64_t& ms) {
  LARGE_INTEGER count, frequency;
  if (!QueryPerformanceFrequency(&frequency) || frequency.QuadPart < 1000 || !QueryPerformanceCounter(&count))
    return false;
  ms = count.QuadPart / (frequency.QuadPart / 1000);
  return true;
}

char DecimalSeparator() {
  char buf[8];
  if (GetLocaleInfoA(GetThreadLocale(), LOCALE_SDECIMAL, buf, sizeof buf) > 1) return buf[0];
  return ',';
}

TOsVersionRecord ReadVersion() {
  TOsVersionRecord r;
  if (IsWin9xFamily()) {
    OSVERSIONINFOA v{};
    v.dwOSVersionInfoSize = sizeof v;
    if (!GetVersionExA(&v)) return r;
    r.major = v.dwMajorVersion;
    r.minor = v.dwMinorVersion;
    r.build = v.dwBuildNumber;
    r.platform = v.dwPlatformId;
    r.servicePackText = v.szCSDVersion;
    return r;
  }
  // The system's own numbers: GetVersionExW tells a program without a
  // manifest an older version on newer systems.
  using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOEXW*);
  auto rtlGetVersion = SystemCall<RtlGetVersionFn>("ntdll.dll", "RtlGetVersion");
  OSVERSIONINFOEXW v{};
  v.dwOSVersionInfoSize = sizeof v;
  bool extended = rtlGetVersion && rtlGetVersion(&v) == 0;
  if (!extended) extended = GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&v));
  if (!extended) {
    v = OSVERSIONINFOEXW{};
    v.dwOSVersionInfoSize = sizeof(OSVERSIONINFOW);
    if (!GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&v))) return r;
  }
  r.major = v.dwMajorVersion;
  r.minor = v.dwMinorVersion;
  r.build = v.dwBuildNumber;
  r.platform = v.dwPlatformId;
  for (const WCHAR* c = v.szCSDVersion; *c; ++c) r.servicePackText += static_cast<char>(*c & 0xFF);
  r.extended = extended;
  if (extended) {
    r.servicePackMajor = v.wServicePackMajor;
    r.productType = v.wProductType;
  }
  r.serverR2 = GetSystemMetrics(89 /* SM_SERVERR2 */) != 0;
  r.tabletPc = GetSystemMetrics(86 /* SM_TABLETPC */) != 0;
  r.starter = GetSystemMetrics(88 /* SM_STARTER */) != 0;
  r.mediaCenter = GetSystemMetrics(87 /* SM_MEDIACENTER */) != 0;
  using GetNativeSystemInfoFn = void(WINAPI*)(SYSTEM_INFO*);
  if (auto native = SystemCall<GetNativeSystemInfoFn>("kernel32.dll", "GetNativeSystemInfo")) {
    SYSTEM_INFO si{};
    native(&si);
    r.win64 = si.wProcessorArchitecture == 9;  // AMD64
  }
  return r;
}

const char kProcessorKey[] = "hardware\\description\\system\\centralProcessor\\";

std::string ProcessorName(int index) {
  return RegistryValue(HKEY_LOCAL_MACHINE, kProcessorKey + std::to_string(index), "ProcessorNameString");
}

}  // namespace

void NoteProgramStart() { g_state.startNoted = CounterMilliseconds(g_state.startMs); }

std::string FormatSize(int64_t bytes) {
  static const char separator = DecimalSeparator();
  return FormatSize(bytes, separator);
}

TOS QueryOsInfo() {
  // Leaked: a static with a destructor would register it with the runtime's
  // exit list on first use, which blocks while the program exits (reports
  // of errors at exit).
  static const TOS* const os = new TOS(MakeOsInfo(ReadVersion()));
  return *os;
}

std::string OsVersionText() { return OsVersionText(QueryOsInfo()); }

std::string OsLanguageText() {
  char buf[261];
  return GetLocaleInfoA(GetSystemDefaultLCID(), LOCALE_SENGLANGUAGE, buf, sizeof buf) ? std::string(buf)
                                                                                      : std::string();
}

std::string SystemUpTimeText() {
  int64_t ms;
  return CounterMilliseconds(ms) ? DurationText(ms / 1000) : std::string();
}

std::string ProgramUpTimeText() {
  int64_t now;
  if (!g_state.startNoted || !CounterMilliseconds(now)) return std::string();
  return ElapsedText(now - g_state.startMs);
}

std::string CpuNameText() { return TrimControls(ProcessorName(0)); }

int CountProcessors() {
  return CountProcessorsBy([](int i) { return !ProcessorName(i).empty(); });
}

std::string PhysicalMemoryText() {
  using GlobalMemoryStatusExFn = BOOL(WINAPI*)(MEMORYSTATUSEX*);
  if (auto statusEx = SystemCall<GlobalMemoryStatusExFn>("kernel32.dll", "GlobalMemoryStatusEx")) {
    MEMORYSTATUSEX m{};
    m.dwLength = sizeof m;
    if (statusEx(&m)) return PhysicalMemoryText(m.ullAvailPhys, m.ullTotalPhys);
  }
  MEMORYSTATUS m{};
  m.dwLength = sizeof m;
  GlobalMemoryStatus(&m);
  return PhysicalMemoryText(m.dwAvailPhys, m.dwTotalPhys);
}

// The 16-bit user library's resource query needs the 9x family's thunk
// services, which a 32-bit program of this toolchain cannot reach: both
// percentages read 0 (the item is shown on that family only).
std::string FreeResourcesText() { return FreeResourcesText(0, 0); }

std::string DisplayModeText() {
  TWindowDC screen(nullptr);
  if (!screen) return std::string();
  const HDC dc = screen.Get();
  return DisplayModeText(GetDeviceCaps(dc, HORZRES), GetDeviceCaps(dc, VERTRES),
                         GetDeviceCaps(dc, BITSPIXEL) * GetDeviceCaps(dc, PLANES));
}

bool HasAdminRights() {
  using CheckTokenMembershipFn = BOOL(WINAPI*)(HANDLE, PSID, BOOL*);
  auto check = SystemCall<CheckTokenMembershipFn>("advapi32.dll", "CheckTokenMembership");
  if (!check) return false;
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  PSID admins = nullptr;
  if (!AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                &admins))
    return false;
  BOOL member = FALSE;
  const bool ok = check(nullptr, admins, &member) != 0;
  FreeSid(admins);
  return ok && member;
}

std::string RemoteClientName() {
  if (IsWin9xFamily() || !GetSystemMetrics(0x1000 /* SM_REMOTESESSION */)) return std::string();
  using QueryFn = BOOL(WINAPI*)(HANDLE, DWORD, int, char**, DWORD*);
  using FreeFn = void(WINAPI*)(void*);
  auto query = SystemCall<QueryFn>("wtsapi32.dll", "WTSQuerySessionInformationA");
  auto release = SystemCall<FreeFn>("wtsapi32.dll", "WTSFreeMemory");
  if (!query || !release) return std::string();
  char* name = nullptr;
  DWORD bytes = 0;
  // The current session of this server; 10: the client's name.
  if (!query(nullptr, static_cast<DWORD>(-1), 10, &name, &bytes) || !name) return std::string();
  std::string result = bytes > 1 ? std::string(name, bytes - 1) : std::string();
  release(name);
  return result;
}

uint32_t PrivateCommittedBytes() {
  uint32_t sum = 0;
  uintptr_t address = 0;
  void* lastAllocation = reinterpret_cast<void*>(1);
  bool inModule = false;
  MEMORY_BASIC_INFORMATION info;
  while (VirtualQuery(reinterpret_cast<void*>(address), &info, sizeof info) == sizeof info) {
    if (info.State == MEM_COMMIT) {
      if (info.AllocationBase != lastAllocation) {
        char path[MAX_PATH];
        inModule = GetModuleFileNameA(static_cast<HMODULE>(info.AllocationBase), path, MAX_PATH) != 0;
        lastAllocation = info.AllocationBase;
      }
      if (!inModule) sum += static_cast<uint32_t>(info.RegionSize);
    }
    const uintptr_t next = reinterpret_cast<uintptr_t>(info.BaseAddress) + info.RegionSize;
    if (next <= address) break;  // the top of the address space
    address = next;
  }
  return sum;
}

std::string AllocatedMemoryText() { return FormatSize(PrivateCommittedBytes()); }

std::string ComputerNameText() {
  char buf[MAX_COMPUTERNAME_LENGTH + 2];
  DWORD n = sizeof buf;
  return GetComputerNameA(buf, &n) ? std::string(buf, n) : std::string();
}

std::string UserNameText() {
  char buf[257];
  DWORD n = sizeof buf;
  if (!GetUserNameA(buf, &n)) return std::string();
  std::string name = buf;
  if (HasAdminRights()) name += "  <admin>";
  return name;
}

std::string RegisteredOwnerText() {
  const char* key = IsWin9xFamily() ? "SOFTWARE\\Microsoft\\Windows\\CurrentVersion"
                           : "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
  const std::string owner = RegistryValue(HKEY_LOCAL_MACHINE, key, "RegisteredOwner");
  const std::string org = RegistryValue(HKEY_LOCAL_MACHINE, key, "RegisteredOrganization");
  return org.empty() ? owner : owner + " / " + org;
}

std::string FreeDiskSpaceText() {
  char exe[MAX_PATH], sys[MAX_PATH];
  const DWORD exeLength = GetModuleFileNameA(nullptr, exe, MAX_PATH);
  const DWORD sysLength = GetSystemDirectoryA(sys, MAX_PATH);
  if (!sysLength || sysLength >= MAX_PATH || sys[1] != ':') return std::string();
  const char exeDrive = exeLength && exeLength < MAX_PATH && exe[1] == ':' ? exe[0] : 0;
  auto freeOn = [](char drive) {
    const char root[4] = {drive, ':', '\\', 0};
    ULARGE_INTEGER available;
    return GetDiskFreeSpaceExA(root, &available, nullptr, nullptr)
               ? FormatSize(static_cast<int64_t>(available.QuadPart))
               : std::string();
  };
  const bool sameDrive = !exeDrive || (exeDrive | 0x20) == (sys[0] | 0x20);  // drive letters
  return FreeDiskSpaceText(sys[0], freeOn(sys[0]), exeDrive, sameDrive ? std::string() : freeOn(exeDrive));
}

std::string FileDateTimeText(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return std::string();
  FILETIME local;
  SYSTEMTIME t;
  if (!FileTimeToLocalFileTime(&data.ftLastWriteTime, &local) || !FileTimeToSystemTime(&local, &t))
    return std::string();
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute);
  return buf;
}

}  // namespace kestrix
