#include "crash/startup/win/runtime_catch_points_win32.h"

#include <windows.h>

#include <unwind.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <new>
#include <string>
#include <typeinfo>

#include "crash/exception/win/fault_conversion_win32.h"
#include "crash/handling/win/handling_win32.h"
#include "crash/threads/win/library_threads.h"

// The runtime's own std::terminate and __cxa_pure_virtual (the library's
// link options wrap both).
extern "C" [[noreturn]] void __real__ZSt9terminatev();
extern "C" [[noreturn]] void __real___cxa_pure_virtual();

namespace kestrix {
namespace {

using TInvalidParameterHandler = void(__cdecl*)(const wchar_t*, const wchar_t*, const wchar_t*, unsigned, uintptr_t);
using TSetInvalidParameterHandler = TInvalidParameterHandler(__cdecl*)(TInvalidParameterHandler);
using TSignalHandler = void(__cdecl*)(int);

// What was changed, to be put back at shutdown.
struct TImportPatch {
  void** slot = nullptr;
  void* original = nullptr;
};
struct TCodePatch {
  uint8_t* at = nullptr;
  uint8_t saved[5] = {};
};
struct TRuntimeHandler {
  TSetInvalidParameterHandler set = nullptr;
  TInvalidParameterHandler previous = nullptr;
};

volatile bool g_installed = false;
TImportPatch g_abortImport;
TSignalHandler g_previousAbortSignal = SIG_DFL;
TCodePatch g_invalidParameterPatch;
TRuntimeHandler g_msvcrtHandler, g_ucrtHandler;

thread_local uint32_t t_terminateReturn = 0, t_terminateFrame = 0;

constexpr uint64_t kGnuCxxExceptionClass = 0x474E5543432B2B00ull;  // "GNUCC++\0"

// --- memory and modules ------------------------------------------------------------

bool Readable(uint32_t address, uint32_t size) {
  while (size > 0) {
    MEMORY_BASIC_INFORMATION info;
    if (address < 0x10000 || !VirtualQuery(reinterpret_cast<void*>(address), &info, sizeof info) ||
        info.State != MEM_COMMIT || (info.Protect & (PAGE_GUARD | PAGE_NOACCESS)) || info.Protect == 0)
      return false;
    const uint32_t end = reinterpret_cast<uint32_t>(info.BaseAddress) + info.RegionSize;
    if (end - address >= size) return true;
    size -= end - address;
    address = end;
  }
  return true;
}

HMODULE ModuleOf(uint32_t address) {
  MEMORY_BASIC_INFORMATION info;
  if (address < 0x10000 || !VirtualQuery(reinterpret_cast<void*>(address), &info, sizeof info) ||
      info.State != MEM_COMMIT || info.Type != MEM_IMAGE)
    return nullptr;
  return static_cast<HMODULE>(info.AllocationBase);
}

std::string ModulePath(HMODULE module) {
  char path[MAX_PATH];
  const DWORD n = GetModuleFileNameA(module, path, MAX_PATH);
  return n > 0 && n < MAX_PATH ? std::string(path, n) : std::string();
}

std::string ModuleFileName(HMODULE module) {
  const std::string path = ModulePath(module);
  return path.substr(path.find_last_of("\\/") + 1);
}

// A module of the system (in the Windows directory), such as the C runtime.
bool InSystemModule(HMODULE module) {
  static const std::string windows = [] {
    char dir[MAX_PATH];
    const UINT n = GetWindowsDirectoryA(dir, MAX_PATH);
    return CharLowerA(dir), std::string(dir, n < MAX_PATH ? n : 0);
  }();
  std::string path = ModulePath(module);
  CharLowerA(path.data());
  return !windows.empty() && path.compare(0, windows.size(), windows) == 0;
}

// --- call sites --------------------------------------------------------------------

uint32_t CallSite(uint32_t ret) {
  const uint32_t call = CallInstructionBefore(ret);
  return call ? call : ret - 1;
}

// The chain of a call: the call instruction before `ret`, then the
// frame-pointer chain from `frame` of the frames that lie above `slot` (the
// stack address that holds `ret`).
void ChainFromCall(uint32_t ret, uint32_t slot, uint32_t frame, TCapturedStack& out) {
  out = TCapturedStack();
  out.eip = CallSite(ret);
  out.esp = slot + 4;
  out.ebp = frame;
  out.frames[out.frameCount++] = out.eip;
  const NT_TIB* tib = reinterpret_cast<const NT_TIB*>(NtCurrentTeb());
  const uint32_t low = reinterpret_cast<uint32_t>(tib->StackLimit), high = reinterpret_cast<uint32_t>(tib->StackBase);
  while (out.frameCount < TCapturedStack::kMaxFrames) {
    if (frame < low || frame + 8 > high || (frame & 3)) break;
    const auto* p = reinterpret_cast<const uint32_t*>(frame);
    if (frame > slot) {
      if (!p[1]) {
        out.complete = true;
        break;
      }
      out.frames[out.frameCount++] = p[1];
    }
    if (p[0] <= frame) {
      out.complete = p[0] == 0;
      break;
    }
    frame = p[0];
  }
}

bool IsProgramReturnAddress(uint32_t value) {
  const HMODULE module = ModuleOf(value);
  return module && !InSystemModule(module) && CallInstructionBefore(value);
}

// Where the program called into the runtime: the first return address into
// a module other than the system's, and after a call, above `ownFrame` -
// along the frame chain when the runtime keeps one, else by looking at
// every word of the stack. 0 when there is none.
uint32_t FindProgramReturnSlot(uint32_t ownFrame) {
  const NT_TIB* tib = reinterpret_cast<const NT_TIB*>(NtCurrentTeb());
  const uint32_t low = reinterpret_cast<uint32_t>(tib->StackLimit), high = reinterpret_cast<uint32_t>(tib->StackBase);
  for (uint32_t frame = ownFrame; frame >= low && frame + 8 <= high && !(frame & 3);) {
    const auto* p = reinterpret_cast<const uint32_t*>(frame);
    if (IsProgramReturnAddress(p[1])) return frame + 4;
    if (p[0] <= frame) break;
    frame = p[0];
  }
  for (uint32_t p = ownFrame + 4; p + 4 <= high && p < ownFrame + 64 * 1024; p += 4)
    if (IsProgramReturnAddress(*reinterpret_cast<const uint32_t*>(p))) return p;
  return 0;
}

// The caller's chain for a catch point that the program reaches through
// the system's C runtime.
void ChainFromRuntimeCall(uint32_t ownFrame, TCapturedStack& out) {
  if (const uint32_t slot = FindProgramReturnSlot(ownFrame)) {
    ChainFromCall(*reinterpret_cast<const uint32_t*>(slot), slot, ownFrame, out);
  } else {
    const auto* frame = reinterpret_cast<const uint32_t*>(ownFrame);
    ChainFromCall(frame[1], ownFrame + 4, frame[0], out);
  }
}

// --- reporting ---------------------------------------------------------------------

// Reports a run-time error whose chain starts at the program's call site.
// A thread of the library, or one busy with its handling, that meets one
// ends the process with the report being made saved.
void ReportRuntimeError(TExceptionObjectInfo& info, const TCapturedStack& stack, bool canContinue, uint8_t source) {
  const DWORD self = GetCurrentThreadId();
  if (ThreadInHandling() || (self != MainThreadId() && IsLibraryThread(self))) EndAfterLibraryError();
  HandleException(etException, &info, stack.frames[0], nullptr, nullptr, nullptr, source, nullptr, 0, 0, canContinue,
                  &stack);
}

void ReportRuntimeError(const std::string& message, const TCapturedStack& stack, bool canContinue,
                        uint8_t source = esUnhandled) {
  TExceptionObjectInfo info = DescribeException(std::make_exception_ptr(KxException(message)));
  ReportRuntimeError(info, stack, canContinue, source);
}

[[noreturn]] void EndAsRuntimeError() {
  TerminateProcess(GetCurrentProcess(), kRuntimeErrorExitCode);
  for (;;) Sleep(INFINITE);
}

// --- a C++ exception that left a module with its own runtime ------------------------

// The header the GNU C++ runtime puts before every thrown object (the same
// layout in every copy of the runtime of this compiler).
struct TThrownException {
  const std::type_info* type;
  void (*destructor)(void*);
  void* unexpectedHandler;
  void* terminateHandler;
  void* next;
  int handlerCount;
  int handlerSwitchValue;
  const unsigned char* actionRecord;
  const unsigned char* languageSpecificData;
  _Unwind_Ptr catchTemp;
  void* adjustedPtr;
  _Unwind_Exception unwindHeader;
};
struct TThrownHeader {
  int referenceCount;
  TThrownException exception;
};

// Another copy of the C++ runtime, in a library module, cannot pass its
// exception through the program's frames: its throw ends in its own
// terminate and abort, with the throw's object and type still on the stack
// as the arguments of its throw routine, right above the throw site.
bool FindForeignException(uint32_t from, TExceptionObjectInfo& info, TCapturedStack& stack) {
  const NT_TIB* tib = reinterpret_cast<const NT_TIB*>(NtCurrentTeb());
  const uint32_t high = reinterpret_cast<uint32_t>(tib->StackBase);
  const HMODULE own = ModuleOf(reinterpret_cast<uint32_t>(&FindForeignException));
  for (uint32_t p = (from & ~3u) + 4; p + 8 <= high && p < from + 64 * 1024; p += 4) {
    const auto* args = reinterpret_cast<const uint32_t*>(p);
    const uint32_t object = args[0], type = args[1];
    if (object < 0x10000 + sizeof(TThrownHeader) || type < 0x10000) continue;
    if (!Readable(object - sizeof(TThrownHeader), sizeof(TThrownHeader))) continue;
    const auto* header = reinterpret_cast<const TThrownHeader*>(object) - 1;
    if (header->exception.unwindHeader.exception_class != kGnuCxxExceptionClass ||
        reinterpret_cast<uint32_t>(header->exception.type) != type || header->referenceCount <= 0 ||
        header->exception.handlerCount == 0)
      continue;
    const HMODULE module = ModuleOf(type);
    if (!module || module == own || !Readable(type, sizeof(std::type_info))) continue;
    const auto* t = reinterpret_cast<const std::type_info*>(type);
    if (!Readable(reinterpret_cast<uint32_t>(t->name()), 2)) continue;
    info = TExceptionObjectInfo();
    info.address = reinterpret_cast<const void*>(object);
    info.type = t;
    info.ancestry = TypeAncestry(*t);
    info.className = info.ancestry.empty() ? std::string("Unknown") : info.ancestry.front();
    std::string what;
    void* adjusted = reinterpret_cast<void*>(object);
    if (typeid(std::exception).__do_catch(t, &adjusted, 1)) what = static_cast<const std::exception*>(adjusted)->what();
    info.message = "C++ exception " + info.className + " left module '" + ModuleFileName(module) +
                   "', which has a C++ runtime of its own" + (what.empty() ? std::string() : ": " + what);
    const uint32_t throwSite = *reinterpret_cast<const uint32_t*>(p - 4);
    if (ModuleOf(throwSite))
      ChainFromCall(throwSite, p - 4, reinterpret_cast<uint32_t>(__builtin_frame_address(0)), stack);
    else
      ChainFromRuntimeCall(from, stack);
    return true;
  }
  return false;
}

// --- the catch points ---------------------------------------------------------------

// abort() called by the executable (its import of the C runtime's abort).
[[noreturn]] void __cdecl AbortHook() {
  const auto* frame = static_cast<const uint32_t*>(__builtin_frame_address(0));
  TCapturedStack stack;
  ChainFromCall(frame[1], reinterpret_cast<uint32_t>(frame + 1), frame[0], stack);
  ReportRuntimeError("Abnormal program termination: abort() was called", stack, false);
  EndAsRuntimeError();
}

// SIGABRT: abort() called by another module, or raise(SIGABRT).
void __cdecl OnAbortSignal(int) {
  const uint32_t ownFrame = reinterpret_cast<uint32_t>(__builtin_frame_address(0));
  TCapturedStack stack;
  bool reported = false;
  try {
    TExceptionObjectInfo info;
    if (FindForeignException(ownFrame, info, stack)) {
      ReportRuntimeError(info, stack, false, esUnhandled);
      reported = true;
    }
  } catch (...) {
  }
  if (!reported) {
    ChainFromRuntimeCall(ownFrame, stack);
    ReportRuntimeError("Abnormal program termination: abort() was called (SIGABRT)", stack, false);
  }
  EndAsRuntimeError();
}

void __cdecl OnInvalidParameter(const wchar_t* expression, const wchar_t* function, const wchar_t* file,
                                unsigned line, uintptr_t) {
  auto narrow = [](const wchar_t* w) {
    std::string s;
    for (; w && *w; ++w) s += *w < 128 ? static_cast<char>(*w) : '?';
    return s;
  };
  std::string message = "Invalid parameter passed to a C runtime function";
  if (function) message += " " + narrow(function);
  if (expression) message += ": " + narrow(expression);
  if (file) message += " (" + narrow(file) + ", line " + std::to_string(line) + ")";
  TCapturedStack stack;
  ChainFromRuntimeCall(reinterpret_cast<uint32_t>(__builtin_frame_address(0)), stack);
  // The C runtime lets the call fail with EINVAL; the settings decide
  // whether the program goes on.
  ReportRuntimeError(message, stack, true);
}

// --- patching ----------------------------------------------------------------------

// Points the executable's import of `name` at `hook`.
void PatchImport(const char* name, void* hook, TImportPatch& patch) {
  auto* base = reinterpret_cast<uint8_t*>(GetModuleHandleA(nullptr));
  auto* nt = reinterpret_cast<IMAGE_NT_HEADERS32*>(base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
  const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (!dir.VirtualAddress) return;
  for (auto* d = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress); d->Name; ++d) {
    if (!d->OriginalFirstThunk) continue;
    auto* names = reinterpret_cast<IMAGE_THUNK_DATA32*>(base + d->OriginalFirstThunk);
    auto* slots = reinterpret_cast<IMAGE_THUNK_DATA32*>(base + d->FirstThunk);
    for (; names->u1.AddressOfData; ++names, ++slots) {
      if (names->u1.Ordinal & IMAGE_ORDINAL_FLAG32) continue;
      auto* byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
      if (std::strcmp(reinterpret_cast<const char*>(byName->Name), name) != 0) continue;
      DWORD old;
      if (!VirtualProtect(&slots->u1.Function, 4, PAGE_READWRITE, &old)) return;
      patch.slot = reinterpret_cast<void**>(&slots->u1.Function);
      patch.original = reinterpret_cast<void*>(slots->u1.Function);
      slots->u1.Function = reinterpret_cast<DWORD>(hook);
      VirtualProtect(&slots->u1.Function, 4, old, &old);
      return;
    }
  }
}

void UnpatchImport(TImportPatch& patch) {
  DWORD old;
  if (patch.slot && VirtualProtect(patch.slot, 4, PAGE_READWRITE, &old)) {
    *patch.slot = patch.original;
    VirtualProtect(patch.slot, 4, old, &old);
  }
  patch = TImportPatch();
}

// Makes the function at `at` jump to `target` (the C runtime's own calls
// of it included).
void PatchJump(void* at, void* target, TCodePatch& patch) {
  auto* code = static_cast<uint8_t*>(at);
  DWORD old;
  if (!code || !VirtualProtect(code, 5, PAGE_EXECUTE_READWRITE, &old)) return;
  std::memcpy(patch.saved, code, 5);
  code[0] = 0xE9;
  const int32_t offset = static_cast<int32_t>(reinterpret_cast<uintptr_t>(target) - reinterpret_cast<uintptr_t>(code + 5));
  std::memcpy(code + 1, &offset, 4);
  VirtualProtect(code, 5, old, &old);
  FlushInstructionCache(GetCurrentProcess(), code, 5);
  patch.at = code;
}

void UnpatchJump(TCodePatch& patch) {
  DWORD old;
  if (patch.at && VirtualProtect(patch.at, 5, PAGE_EXECUTE_READWRITE, &old)) {
    std::memcpy(patch.at, patch.saved, 5);
    VirtualProtect(patch.at, 5, old, &old);
    FlushInstructionCache(GetCurrentProcess(), patch.at, 5);
  }
  patch = TCodePatch();
}

// The invalid-parameter handler of a C runtime: through its own setter when
// it has one, else (the system's msvcrt) by making its _invalid_parameter,
// which every checking function calls, jump to the library.
void CatchInvalidParameters(const char* runtime, TRuntimeHandler& handler, TCodePatch* patch) {
  HMODULE module = GetModuleHandleA(runtime);
  if (!module) return;
  if (auto set = reinterpret_cast<TSetInvalidParameterHandler>(
          reinterpret_cast<void*>(GetProcAddress(module, "_set_invalid_parameter_handler")))) {
    handler.set = set;
    handler.previous = set(OnInvalidParameter);
  } else if (patch) {
    PatchJump(reinterpret_cast<void*>(GetProcAddress(module, "_invalid_parameter")),
              reinterpret_cast<void*>(&OnInvalidParameter), *patch);
  }
}

void ReleaseInvalidParameters(TRuntimeHandler& handler) {
  if (handler.set) handler.set(handler.previous);
  handler = TRuntimeHandler();
}

}  // namespace

void InstallRuntimeCatchPoints() {
  if (g_installed) return;
  PatchImport("abort", reinterpret_cast<void*>(&AbortHook), g_abortImport);
  g_previousAbortSignal = std::signal(SIGABRT, OnAbortSignal);
  CatchInvalidParameters("msvcrt.dll", g_msvcrtHandler, &g_invalidParameterPatch);
  CatchInvalidParameters("ucrtbase.dll", g_ucrtHandler, nullptr);
  g_installed = true;
}

void RemoveRuntimeCatchPoints() {
  if (!g_installed) return;
  g_installed = false;
  ReleaseInvalidParameters(g_ucrtHandler);
  ReleaseInvalidParameters(g_msvcrtHandler);
  UnpatchJump(g_invalidParameterPatch);
  std::signal(SIGABRT, g_previousAbortSignal == SIG_ERR ? SIG_DFL : g_previousAbortSignal);
  UnpatchImport(g_abortImport);
}

void ReportTerminateCall(uint8_t source, bool canContinue) {
  TCapturedStack stack;
  if (t_terminateReturn) {
    ChainFromCall(t_terminateReturn, 0, t_terminateFrame, stack);
    t_terminateReturn = 0;
  } else {
    const auto* frame = static_cast<const uint32_t*>(__builtin_frame_address(0));
    ChainFromCall(frame[1], reinterpret_cast<uint32_t>(frame + 1), frame[0], stack);
  }
  ReportRuntimeError("Abnormal program termination: std::terminate() was called without an active exception", stack,
                     canContinue, source);
}

}  // namespace kestrix

// A direct call of std::terminate: its caller is kept for the report.
extern "C" [[noreturn]] void __wrap__ZSt9terminatev() {
  const auto* frame = static_cast<const uint32_t*>(__builtin_frame_address(0));
  kestrix::t_terminateReturn = frame[1];
  kestrix::t_terminateFrame = frame[0];
  __real__ZSt9terminatev();
}

// The pure virtual function's place in a vtable.
extern "C" void __wrap___cxa_pure_virtual() {
  if (!kestrix::g_installed) __real___cxa_pure_virtual();
  const auto* frame = static_cast<const uint32_t*>(__builtin_frame_address(0));
  kestrix::TCapturedStack stack;
  kestrix::ChainFromCall(frame[1], reinterpret_cast<uint32_t>(frame + 1), frame[0], stack);
  kestrix::ReportRuntimeError("Pure virtual function call", stack, false);
  kestrix::EndAsRuntimeError();
}
