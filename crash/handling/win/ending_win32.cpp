// Ending and restarting the program, and the exception time ring.
#include "crash/handling/win/ending_win32.h"

#include <cstdio>

#include "crash/base/win/scoped_handle.h"
#include "crash/handling/win/handling_state_win32.h"

namespace kestrix {
namespace {

// Writes the restart block into a named mapping the new process opens; the
// new process gets a duplicate of the mapping's handle so that the block
// outlives this process.
void HandOverRestartBlock(const PROCESS_INFORMATION& pi) {
  const std::string name = RestartBlockName(pi.dwProcessId);
  SECURITY_DESCRIPTOR sd;
  InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION);
  SetSecurityDescriptorDacl(&sd, TRUE, nullptr, FALSE);
  SECURITY_ATTRIBUTES sa{sizeof sa, &sd, FALSE};
  // Left open: this process ends right after, and the block must be there
  // until the new process has taken its own handle.
  HANDLE map = CreateFileMappingA(INVALID_HANDLE_VALUE, &sa, PAGE_READWRITE, 0, kRestartBlockSize, name.c_str());
  if (!map) return;
  TMappedView view(MapViewOfFile(map, FILE_MAP_WRITE, 0, 0, kRestartBlockSize));
  if (!view) return;
  HANDLE dup = nullptr;
  DuplicateHandle(GetCurrentProcess(), map, pi.hProcess, &dup, 0, FALSE, DUPLICATE_SAME_ACCESS);
  TRestartBlock block;
  block.oldProcessId = GetCurrentProcessId();
  block.mappingHandle = reinterpret_cast<uint32_t>(dup);
  block.ring = ExceptionTimes();
  WriteRestartBlock(block, *view.As<uint8_t[kRestartBlockSize]>());
}

}  // namespace

TExceptionTimeRing ExceptionTimes() {
  std::lock_guard<std::mutex> lock(HandlingState().ringMutex);
  return HandlingState().ring;
}

void SetExceptionTimes(const TExceptionTimeRing& ring) {
  std::lock_guard<std::mutex> lock(HandlingState().ringMutex);
  HandlingState().ring = ring;
}

bool AutoActionDue(int32_t n) {
  FILETIME ft;
  GetSystemTimeAsFileTime(&ft);
  const uint64_t now = ((static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime) / 10000000;
  return AutoActionDue(n, ExceptionTimes(), now);
}

void EndProgram(uint32_t exitCode) {
  TerminateProcess(GetCurrentProcess(), exitCode);
  for (;;) Sleep(INFINITE);
}

uint32_t ExitCodeOf(TIKXException* e) {
  const TExceptionObjectInfo* object = e ? e->ExceptionObject() : nullptr;
  return CrashExitCode(object ? object->systemCode : 0);
}

void RememberStartFolder() {
  std::string folder(MAX_PATH, '\0');
  DWORD n = GetCurrentDirectoryA(static_cast<DWORD>(folder.size()), folder.data());
  if (n >= folder.size()) {
    folder.resize(n);
    n = GetCurrentDirectoryA(static_cast<DWORD>(folder.size()), folder.data());
  }
  folder.resize(n < folder.size() ? n : 0);
  HandlingState().startFolder = folder;
}

void RestartProgram() {
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  std::string command = GetCommandLineA();
  // The executable by its full path: the command line may name it relative
  // to a folder the program has left since.
  std::string executable(32768, '\0');
  executable.resize(GetModuleFileNameA(nullptr, executable.data(), static_cast<DWORD>(executable.size())));
  const char* application = executable.empty() || executable.size() >= 32767 ? nullptr : executable.c_str();
  const std::string& startFolder = HandlingState().startFolder;
  const char* folder = startFolder.empty() ? nullptr : startFolder.c_str();
  bool started = CreateProcessA(application, command.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                                folder, &si, &pi);
  if (!started && folder)  // the start folder is gone: the current one then
    started = CreateProcessA(application, command.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                             nullptr, &si, &pi);
  if (started) {
    const TScopedHandle process(pi.hProcess), thread(pi.hThread);
    HandOverRestartBlock(pi);
    ResumeThread(pi.hThread);
  }
  TerminateProcess(GetCurrentProcess(), 2);
  for (;;) Sleep(INFINITE);
}

}  // namespace kestrix
