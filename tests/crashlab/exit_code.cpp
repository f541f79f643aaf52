// Runs a program and prints its whole 32-bit exit code to standard error
// ("exit code 0xc0000005"), and the high-resolution counter when it ended
// ("ended at <ticks>"): exit_code [--follow] <program> [arguments...]. The
// program's own output goes to the same handles. A Unix parent of a Wine
// process sees only the code's low 8 bits.
//
// --follow: while a process ends with exit code 2 (restarted), the process it
// started in its place is waited for as well and its code printed the same
// way. The crash lab holds a restarted process until it is followed (it sees
// CRASHLAB_FOLLOWED and waits for the event "crashlab-followed-<pid in hex>").
#include <windows.h>
#include <tlhelp32.h>

#include <cstdio>
#include <string>

#include "tests/helpers/wait.h"

namespace {

// A process that `parent` started and that holds itself with the event
// "crashlab-followed-<pid>" (Wine may start helpers such as conhost.exe for
// a process too), opened and let go on; nullptr while there is none.
HANDLE HeldChildOf(DWORD parent) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
    if (entry.th32ParentProcessID != parent || entry.th32ProcessID == parent) continue;
    char name[64];
    std::snprintf(name, sizeof name, "crashlab-followed-%lx", entry.th32ProcessID);
    HANDLE held = OpenEventA(EVENT_MODIFY_STATE, FALSE, name);
    if (!held) continue;
    HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, entry.th32ProcessID);
    SetEvent(held);
    CloseHandle(held);
    if (process) {
      CloseHandle(snapshot);
      return process;
    }
  }
  CloseHandle(snapshot);
  return nullptr;
}

// The restarted process that `parent` started, waited for up to 10 seconds.
HANDLE FollowChildOf(DWORD parent) {
  HANDLE found = nullptr;
  testhelpers::WaitUntil([&] { return (found = HeldChildOf(parent)) != nullptr; }, 10000, 10);
  return found;
}

DWORD Report(HANDLE process) {
  WaitForSingleObject(process, INFINITE);
  LARGE_INTEGER ended;
  QueryPerformanceCounter(&ended);
  DWORD code = 0;
  GetExitCodeProcess(process, &code);
  std::fprintf(stderr, "exit code 0x%08lx\nended at %lld\n", static_cast<unsigned long>(code), ended.QuadPart);
  std::fflush(stderr);
  return code;
}

}  // namespace

int main() {
  // The command line after this program's own name, as given.
  const char* line = GetCommandLineA();
  bool quoted = false;
  for (; *line && (quoted || (*line != ' ' && *line != '\t')); ++line)
    if (*line == '"') quoted = !quoted;
  while (*line == ' ' || *line == '\t') ++line;
  const bool follow = std::string(line).rfind("--follow ", 0) == 0;
  if (follow) {
    line += 9;
    while (*line == ' ' || *line == '\t') ++line;
    SetEnvironmentVariableA("CRASHLAB_FOLLOWED", "1");
  }
  std::string command = line;
  if (command.empty()) {
    std::fputs("usage: exit_code [--follow] <program> [arguments...]\n", stderr);
    return 2;
  }
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
    std::fprintf(stderr, "cannot start: %lu\n", GetLastError());
    return 2;
  }
  CloseHandle(pi.hThread);
  HANDLE process = pi.hProcess;
  while (Report(process) == 2 && follow) {
    const DWORD pid = GetProcessId(process);
    CloseHandle(process);
    process = FollowChildOf(pid);
    if (!process) {
      std::fputs("no restarted process\n", stderr);
      return 0;
    }
  }
  CloseHandle(process);
  return 0;
}
