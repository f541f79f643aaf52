// The system-information collectors' cost: each list and the header items,
// timed in a process with a given number of loaded modules while a given
// number of other processes run (this program's own children, sleeping).
//   wine sysinfo_bench.exe [modules] [processes] [runs]   (100 60 7)
// Prints the median of each collector in milliseconds and the per-process
// cost of the process list. Run with a running wineserver (bench/sysinfo_bench.py).
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "crash/sysinfo/win/system_info_win32.h"
#include "crash/sysinfo/win/system_lists_win32.h"

namespace {

double Now() {
  LARGE_INTEGER c, f;
  QueryPerformanceCounter(&c);
  QueryPerformanceFrequency(&f);
  return c.QuadPart * 1000.0 / f.QuadPart;
}

double Median(const std::function<void()>& work, int runs) {
  std::vector<double> t;
  for (int i = 0; i < runs; ++i) {
    const double start = Now();
    work();
    t.push_back(Now() - start);
  }
  std::sort(t.begin(), t.end());
  return t[t.size() / 2];
}

// Loads libraries of the system folder (without running their code) until
// the process has `target` modules.
size_t LoadModules(size_t target) {
  char dir[MAX_PATH];
  GetSystemDirectoryA(dir, MAX_PATH);
  WIN32_FIND_DATAA found;
  HANDLE find = FindFirstFileA((std::string(dir) + "\\*.dll").c_str(), &found);
  size_t count = kestrix::CollectModules().size();
  for (BOOL more = find != INVALID_HANDLE_VALUE; more && count < target; more = FindNextFileA(find, &found))
    if (LoadLibraryExA((std::string(dir) + "\\" + found.cFileName).c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES))
      count = kestrix::CollectModules().size();
  if (find != INVALID_HANDLE_VALUE) FindClose(find);
  return count;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "--sleep") == 0) {
    Sleep(600000);
    return 0;
  }
  const size_t modules = argc > 1 ? std::atoi(argv[1]) : 100;
  const size_t processes = argc > 2 ? std::atoi(argv[2]) : 60;
  const int runs = argc > 3 ? std::atoi(argv[3]) : 7;

  const size_t loaded = LoadModules(modules);
  std::vector<PROCESS_INFORMATION> children;
  char exe[MAX_PATH];
  GetModuleFileNameA(nullptr, exe, MAX_PATH);
  while (kestrix::CollectProcesses().size() < processes) {
    std::string command = std::string("\"") + exe + "\" --sleep";
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessA(exe, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) break;
    children.push_back(pi);
    if (children.size() % 10 == 0) Sleep(200);
  }
  Sleep(1000);
  const size_t listed = kestrix::CollectProcesses().size();

  const double moduleMs = Median([] { kestrix::ModuleListText(); }, runs);
  const double processMs = Median([] { kestrix::ProcessListText(); }, runs);
  const double hardwareMs = Median([] { kestrix::HardwareListText(); }, runs);
  const double headerMs = Median(
      [] {
        kestrix::ComputerNameText();
        kestrix::RemoteClientName();
        kestrix::UserNameText();
        kestrix::RegisteredOwnerText();
        kestrix::OsVersionText();
        kestrix::OsLanguageText();
        kestrix::SystemUpTimeText();
        kestrix::ProgramUpTimeText();
        kestrix::CountProcessors();
        kestrix::CpuNameText();
        kestrix::PhysicalMemoryText();
        kestrix::FreeDiskSpaceText();
        kestrix::DisplayModeText();
        kestrix::AllocatedMemoryText();
      },
      runs);
  std::printf("modules %zu, processes %zu, runs %d (medians)\n", loaded, listed, runs);
  std::printf("ModuleListText    %8.2f ms\n", moduleMs);
  std::printf("ProcessListText   %8.2f ms  (%.3f ms per process)\n", processMs, processMs / listed);
  std::printf("HardwareListText  %8.2f ms\n", hardwareMs);
  std::printf("header items      %8.2f ms\n", headerMs);
  std::printf("all               %8.2f ms\n", moduleMs + processMs + hardwareMs + headerMs);
  for (PROCESS_INFORMATION& pi : children) {
    TerminateProcess(pi.hProcess, 0);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
  }
  return 0;
}
