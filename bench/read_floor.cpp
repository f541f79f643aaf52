// read_floor DIR
// The floor of an analysis: opens every file under DIR once and reads it to
// its end, as a program that does nothing else with the files would. Prints
// the number of files and bytes and the time spent inside the program.
// With no argument it does nothing: its run time under Wine is then the
// cost of starting a process.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

struct Totals {
  long long files = 0;
  long long bytes = 0;
};

void ReadTree(const std::string& dir, std::vector<char>& buffer, Totals& totals) {
  std::vector<std::string> subdirs;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((dir + "\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    const std::string name = found.cFileName;
    if (name == "." || name == "..") continue;
    const std::string path = dir + "\\" + name;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      subdirs.push_back(path);
      continue;
    }
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) continue;
    DWORD got = 0;
    while (ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr) && got > 0)
      totals.bytes += got;
    CloseHandle(file);
    ++totals.files;
  } while (FindNextFileA(search, &found));
  FindClose(search);
  for (const std::string& sub : subdirs) ReadTree(sub, buffer, totals);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 0;
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  std::vector<char> buffer(64 * 1024);
  Totals totals;
  ReadTree(argv[1], buffer, totals);
  QueryPerformanceCounter(&end);
  const double ms = 1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
  std::printf("%lld files %lld bytes %.1f ms\n", totals.files, totals.bytes, ms);
  return 0;
}
