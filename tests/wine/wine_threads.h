// What hanging programs are doing, for a test that caught one: the
// backtrace of each thread of each process of the named programs, from
// winedbg, on standard output.
#pragma once

#include <windows.h>
#include <tlhelp32.h>

#include <cstdio>
#include <string>
#include <vector>

namespace winethreads {

// Every thread of process `pid`: one winedbg run with a "bt" per thread.
inline void DumpProcessThreads(DWORD pid, const char* name) {
  std::vector<DWORD> threads;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
    if (entry.th32OwnerProcessID == pid) threads.push_back(entry.th32ThreadID);
  CloseHandle(snapshot);
  char folder[MAX_PATH], script[MAX_PATH];
  GetTempPathA(sizeof folder, folder);
  std::snprintf(script, sizeof script, "%swinethreads-%lx.txt", folder, pid);
  FILE* f = std::fopen(script, "w");
  if (!f) return;
  for (DWORD tid : threads) std::fprintf(f, "echo thread %lx:\nbt 0x%lx\n", tid, tid);
  std::fprintf(f, "detach\n");
  std::fclose(f);
  std::printf("--- process %lx (%s), %u threads ---\n", pid, name, static_cast<unsigned>(threads.size()));
  std::fflush(stdout);
  std::string command = "winedbg --file \"" + std::string(script) + "\" " + std::to_string(pid);
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
    WaitForSingleObject(pi.hProcess, 60000);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  }
  DeleteFileA(script);
}

// Every process whose executable is one of `names` (case ignored).
inline void DumpProgramThreads(const char* why, const std::vector<std::string>& names) {
  std::printf("=== %s: the threads of the programs ===\n", why);
  std::fflush(stdout);
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  std::vector<PROCESSENTRY32> found;
  for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry))
    for (const std::string& name : names)
      if (lstrcmpiA(entry.szExeFile, name.c_str()) == 0) found.push_back(entry);
  CloseHandle(snapshot);
  for (const PROCESSENTRY32& process : found) DumpProcessThreads(process.th32ProcessID, process.szExeFile);
  std::printf("=== end of the threads ===\n");
  std::fflush(stdout);
}

}  // namespace winethreads
