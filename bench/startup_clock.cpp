// Times a program's start: startup_clock <program> [arguments...] starts it,
// reads "main at <ticks>" from its output and prints the milliseconds from
// CreateProcess to main and to the process's end ("to main 12.345 end 20.1").
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int main() {
  const char* line = GetCommandLineA();
  bool quoted = false;
  for (; *line && (quoted || (*line != ' ' && *line != '\t')); ++line)
    if (*line == '"') quoted = !quoted;
  while (*line == ' ' || *line == '\t') ++line;
  std::string command = line;
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  HANDLE readEnd, writeEnd;
  if (command.empty() || !CreatePipe(&readEnd, &writeEnd, &sa, 0)) return 2;
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOA si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdOutput = writeEnd;
  si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  PROCESS_INFORMATION pi{};
  LARGE_INTEGER freq, start, end;
  QueryPerformanceFrequency(&freq);
  QueryPerformanceCounter(&start);
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) return 2;
  CloseHandle(writeEnd);
  std::string out;
  char buf[256];
  DWORD got;
  while (ReadFile(readEnd, buf, sizeof buf, &got, nullptr) && got) out.append(buf, got);
  WaitForSingleObject(pi.hProcess, INFINITE);
  QueryPerformanceCounter(&end);
  const size_t at = out.find("main at ");
  if (at == std::string::npos) return 3;
  const long long main = std::atoll(out.c_str() + at + 8);
  const double ms = 1000.0 / static_cast<double>(freq.QuadPart);
  std::printf("to main %.3f end %.3f\n", (main - start.QuadPart) * ms, (end.QuadPart - start.QuadPart) * ms);
  return 0;
}
