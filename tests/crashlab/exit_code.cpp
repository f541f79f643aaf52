// Runs a program and prints its whole 32-bit exit code to standard error
// ("exit code 0xc0000005"), and the high-resolution counter when it ended
// ("ended at <ticks>"): exit_code <program> [arguments...]. The program's own
// output goes to the same handles. A Unix parent of a Wine process sees only
// the code's low 8 bits.
#include <windows.h>

#include <cstdio>
#include <string>

int main() {
  // The command line after this program's own name, as given.
  const char* line = GetCommandLineA();
  bool quoted = false;
  for (; *line && (quoted || (*line != ' ' && *line != '\t')); ++line)
    if (*line == '"') quoted = !quoted;
  while (*line == ' ' || *line == '\t') ++line;
  std::string command = line;
  if (command.empty()) {
    std::fputs("usage: exit_code <program> [arguments...]\n", stderr);
    return 2;
  }
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
    std::fprintf(stderr, "cannot start: %lu\n", GetLastError());
    return 2;
  }
  WaitForSingleObject(pi.hProcess, INFINITE);
  LARGE_INTEGER ended;
  QueryPerformanceCounter(&ended);
  DWORD code = 0;
  GetExitCodeProcess(pi.hProcess, &code);
  std::fprintf(stderr, "exit code 0x%08lx\nended at %lld\n", static_cast<unsigned long>(code), ended.QuadPart);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return 0;
}
