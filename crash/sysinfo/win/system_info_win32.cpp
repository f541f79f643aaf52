#include "crash/sysinfo/win/system_info_win32.h"

#include <psapi.h>

#include <cctype>
#include <cstdio>

namespace kestrix {
namespace {

ULONGLONG g_startTicks = 0;

std::string RegistryText(HKEY root, const char* key, const char* value) {
  char buf[512];
  DWORD size = sizeof buf - 1, type = 0;
  HKEY h;
  if (RegOpenKeyExA(root, key, 0, KEY_READ, &h) != ERROR_SUCCESS) return std::string();
  LONG r = RegQueryValueExA(h, value, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size);
  RegCloseKey(h);
  if (r != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return std::string();
  buf[size] = 0;
  return buf;
}

std::string Duration(ULONGLONG ms) {
  const ULONGLONG s = ms / 1000;
  char buf[96];
  std::snprintf(buf, sizeof buf, "%llu days %llu hours %llu minutes %llu seconds", s / 86400, s / 3600 % 24,
                s / 60 % 60, s % 60);
  return buf;
}

std::string MegaBytes(ULONGLONG bytes) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%llu MB", bytes / (1024 * 1024));
  return buf;
}

}  // namespace

void NoteProgramStart() { g_startTicks = GetTickCount64(); }

std::string ComputerNameText() {
  char buf[MAX_COMPUTERNAME_LENGTH + 2];
  DWORD n = sizeof buf;
  return GetComputerNameA(buf, &n) ? std::string(buf, n) : std::string();
}

std::string WtsClientNameText() { return std::string(); }  // only in remote sessions

std::string UserNameText() {
  char buf[257];
  DWORD n = sizeof buf;
  if (!GetUserNameA(buf, &n)) return std::string();
  std::string name = buf;
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  PSID admins = nullptr;
  BOOL member = FALSE;
  if (AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                               &admins)) {
    if (!CheckTokenMembership(nullptr, admins, &member)) member = FALSE;
    FreeSid(admins);
  }
  if (member) name += "  <admin>";
  return name;
}

std::string RegisteredOwnerText() {
  const char* key = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
  std::string owner = RegistryText(HKEY_LOCAL_MACHINE, key, "RegisteredOwner");
  std::string org = RegistryText(HKEY_LOCAL_MACHINE, key, "RegisteredOrganization");
  return org.empty() ? owner : owner + " / " + org;
}

std::string OperatingSystemText() {
  using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOEXW*);
  auto fn = reinterpret_cast<RtlGetVersionFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "RtlGetVersion")));
  OSVERSIONINFOEXW v{};
  v.dwOSVersionInfoSize = sizeof v;
  if (!fn || fn(&v) != 0) return std::string();
  char buf[128];
  std::snprintf(buf, sizeof buf, "Windows %lu.%lu build %lu", v.dwMajorVersion, v.dwMinorVersion, v.dwBuildNumber);
  std::string text = buf;
  if (v.szCSDVersion[0]) {
    char sp[128];
    WideCharToMultiByte(CP_ACP, 0, v.szCSDVersion, -1, sp, sizeof sp, nullptr, nullptr);
    text += " ";
    text += sp;
  }
  return text;
}

std::string SystemLanguageText() {
  char buf[128];
  return GetLocaleInfoA(LOCALE_SYSTEM_DEFAULT, LOCALE_SENGLANGUAGE, buf, sizeof buf) ? std::string(buf)
                                                                                     : std::string();
}

std::string SystemUpTimeText() { return Duration(GetTickCount64()); }

std::string ProgramUpTimeText() { return g_startTicks ? Duration(GetTickCount64() - g_startTicks) : std::string(); }

int ProcessorCount() {
  SYSTEM_INFO si;
  GetSystemInfo(&si);
  return static_cast<int>(si.dwNumberOfProcessors);
}

std::string ProcessorNameText() {
  std::string name = RegistryText(HKEY_LOCAL_MACHINE, "HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0",
                                  "ProcessorNameString");
  size_t b = name.find_first_not_of(' ');
  return b == std::string::npos ? std::string() : name.substr(b);
}

std::string PhysicalMemoryText() {
  MEMORYSTATUSEX m{};
  m.dwLength = sizeof m;
  if (!GlobalMemoryStatusEx(&m)) return std::string();
  return MegaBytes(m.ullAvailPhys) + "/" + MegaBytes(m.ullTotalPhys);
}

std::string FreeDiskSpaceText() {
  char exe[MAX_PATH], sys[MAX_PATH];
  if (!GetModuleFileNameA(nullptr, exe, MAX_PATH) || !GetSystemDirectoryA(sys, MAX_PATH)) return std::string();
  auto entry = [](char drive) {
    char root[4] = {drive, ':', '\\', 0};
    ULARGE_INTEGER freeBytes;
    if (!GetDiskFreeSpaceExA(root, &freeBytes, nullptr, nullptr)) return std::string();
    std::string text = "(";
    text += static_cast<char>(std::toupper(static_cast<unsigned char>(drive)));
    return text + ":) " + MegaBytes(freeBytes.QuadPart);
  };
  const char a = exe[1] == ':' ? exe[0] : 0, b = sys[1] == ':' ? sys[0] : 0;
  if (!b) return std::string();
  if (!a || (a | 0x20) == (b | 0x20)) return entry(b);
  return entry(b) + " " + entry(a);
}

std::string DisplayModeText() {
  HDC dc = GetDC(nullptr);
  if (!dc) return std::string();
  char buf[64];
  std::snprintf(buf, sizeof buf, "%dx%d, %d bit", GetDeviceCaps(dc, HORZRES), GetDeviceCaps(dc, VERTRES),
                GetDeviceCaps(dc, BITSPIXEL) * GetDeviceCaps(dc, PLANES));
  ReleaseDC(nullptr, dc);
  return buf;
}

std::string AllocatedMemoryText() {
  PROCESS_MEMORY_COUNTERS pmc{};
  pmc.cb = sizeof pmc;
  if (!GetProcessMemoryInfo(GetCurrentProcess(), &pmc, sizeof pmc)) return std::string();
  char buf[64];
  std::snprintf(buf, sizeof buf, "%lu bytes", static_cast<unsigned long>(pmc.PagefileUsage));
  return buf;
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
