// Takes a process trace of another process: trace_driver <pid> <size>
// creates the shared memory "kxTraceProcessMap", starts the target's
// exported kxTraceProcess as a thread in it and prints what it wrote.
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// The export's address in the target: its executable's base plus the RVA
// read from the file's export directory (the image is mapped as a file
// here, so RVAs are looked up through the section table).
uintptr_t ExportAddress(DWORD pid, const char* name) {
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, pid);
  if (snap == INVALID_HANDLE_VALUE) return 0;
  MODULEENTRY32 me{};
  me.dwSize = sizeof me;
  const bool found = Module32First(snap, &me);
  CloseHandle(snap);
  if (!found) return 0;
  HMODULE image = LoadLibraryExA(me.szExePath, nullptr, DONT_RESOLVE_DLL_REFERENCES);
  if (!image) return 0;
  auto* base = reinterpret_cast<uint8_t*>(image);
  FARPROC local = GetProcAddress(image, name);
  const uintptr_t rva = local ? reinterpret_cast<uintptr_t>(local) - reinterpret_cast<uintptr_t>(base) : 0;
  FreeLibrary(image);
  return rva ? reinterpret_cast<uintptr_t>(me.modBaseAddr) + rva : 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  const DWORD pid = std::strtoul(argv[1], nullptr, 0);
  const DWORD size = std::strtoul(argv[2], nullptr, 0);
  HANDLE map = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, size, "kxTraceProcessMap");
  HANDLE process = OpenProcess(PROCESS_ALL_ACCESS, FALSE, pid);
  const uintptr_t address = ExportAddress(pid, "kxTraceProcess");
  if (!map || !process || !address) {
    std::fprintf(stderr, "cannot trace process %lu\n", pid);
    return 1;
  }
  HANDLE thread = CreateRemoteThread(process, nullptr, 0, reinterpret_cast<LPTHREAD_START_ROUTINE>(address),
                                     reinterpret_cast<void*>(static_cast<uintptr_t>(size)), 0, nullptr);
  if (!thread || WaitForSingleObject(thread, 30000) != WAIT_OBJECT_0) return 1;
  auto* view = static_cast<const char*>(MapViewOfFile(map, FILE_MAP_READ, 0, 0, 0));
  if (!view) return 1;
  _setmode(_fileno(stdout), _O_BINARY);  // the report's own CR LF
  std::fwrite(view, 1, strnlen(view, size), stdout);
  return 0;
}
