// A mail program for "mailto" links under Wine: appends its command line
// (one line, as the process got it) to the file KX_MAILTO_RECORD names.
#include <windows.h>

#include <cstdio>

int main() {
  char path[MAX_PATH];
  const DWORD n = GetEnvironmentVariableA("KX_MAILTO_RECORD", path, sizeof path);
  if (!n || n >= sizeof path) return 2;
  FILE* out = std::fopen(path, "ab");
  if (!out) return 2;
  std::fprintf(out, "%s\n", GetCommandLineA());
  std::fclose(out);
  return 0;
}
