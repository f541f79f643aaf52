// Thread creation, work items, the runtime's threads and message retrieval
// hooked: every thread function runs inside the library's thread frame.
#include "crash/threads/win/thread_hooks_win32.h"

#include <pthread.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <new>
#include <type_traits>

#include "crash/base/win/critical_section.h"
#include "crash/threads/win/code_patch_win32.h"
#include "crash/threads/win/thread_table_win32.h"

namespace kestrix {
namespace {

using TCreateThread = HANDLE(WINAPI*)(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE, LPVOID, DWORD, LPDWORD);
using TCreateRemoteThread = HANDLE(WINAPI*)(HANDLE, LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE, LPVOID,
                                            DWORD, LPDWORD);
using TCreateRemoteThreadEx = HANDLE(WINAPI*)(HANDLE, LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE, LPVOID,
                                              DWORD, LPPROC_THREAD_ATTRIBUTE_LIST, LPDWORD);
using TQueueUserWorkItem = BOOL(WINAPI*)(LPTHREAD_START_ROUTINE, PVOID, ULONG);
using TGetMessage = BOOL(WINAPI*)(LPMSG, HWND, UINT, UINT);
using TPeekMessage = BOOL(WINAPI*)(LPMSG, HWND, UINT, UINT, UINT);

using TLoadLibraryA = HMODULE(WINAPI*)(LPCSTR);
using TLoadLibraryW = HMODULE(WINAPI*)(LPCWSTR);
using TLoadLibraryExA = HMODULE(WINAPI*)(LPCSTR, HANDLE, DWORD);
using TLoadLibraryExW = HMODULE(WINAPI*)(LPCWSTR, HANDLE, DWORD);

// A module's image in memory.
struct TImageRange {
  uint32_t begin = 0, end = 0;
};

// The hooks' state. Constant-initialized and never destroyed: the hooks and
// the runtime's thread wrapper run on any thread, also before the library
// starts (other units' static constructors) and after the static
// destructors.
struct TThreadHooksState {
  // Held while either kind of hook is installed or removed.
  TSlimLock lock;
  // Written under `lock` by InstallThreadHooks before any hook is in force;
  // read by the hooks.
  TThreadHookConfig config;
  // Written under `lock` by InstallThreadHooks and RemoveThreadHooks; read
  // by the runtime's thread wrapper on any thread.
  std::atomic<TThreadHookMode> mode{TThreadHookMode::kNone};
  // The originals, written under `lock` by InstallThreadHooks and kept
  // after the removal: a thread may still be on its way through a hook.
  TCreateThread createThread = nullptr;  // import mode
  void* internalTarget = nullptr;        // internal-call mode: the remote variant
  uint32_t internalField = 0;            // the patched call's target field; 0 once undone
  TQueueUserWorkItem queueUserWorkItem = nullptr;
  TLoadLibraryA loadLibraryA = nullptr;
  TLoadLibraryW loadLibraryW = nullptr;
  TLoadLibraryExA loadLibraryExA = nullptr;
  TLoadLibraryExW loadLibraryExW = nullptr;
  // The system's and the C runtime's thread-start code, which is never the
  // creator, and the executable: written by InstallThreadHooks.
  TImageRange runtimeImages[5];
  TImageRange exeImage;
  // The message hooks: written under `lock` by InstallMessageHooks and
  // RemoveMessageHooks (the originals kept, as above); the pause check is
  // read by the hooks on any thread.
  std::atomic<void (*)()> pauseCheck{nullptr};
  std::atomic<bool> messageHooks{false};
  TGetMessage getMessageA = nullptr, getMessageW = nullptr;
  TPeekMessage peekMessageA = nullptr, peekMessageW = nullptr;
};
constinit TThreadHooksState g_hooks;
static_assert(std::is_trivially_destructible_v<TThreadHooksState>, "no destructor runs at the process's end");

// What the runtime's thread wrapper learnt, for the creation it is about to
// make in this thread: written by the wrapper, taken by CreateWrapped.
struct TPendingCreation {
  uint32_t creator = 0;
  const char* className = nullptr;
};
thread_local TPendingCreation t_pending;

struct TThreadStart {
  LPTHREAD_START_ROUTINE function;
  void* parameter;
  DWORD creatorThreadId;
  uint32_t creatorAddress;
};

TThreadStart* PackStart(LPTHREAD_START_ROUTINE function, void* parameter, uint32_t creator) {
  auto* s = static_cast<TThreadStart*>(HeapAlloc(GetProcessHeap(), 0, sizeof(TThreadStart)));
  if (s) *s = {function, parameter, GetCurrentThreadId(), creator};
  return s;
}

TThreadStart UnpackStart(void* p) {
  TThreadStart s = *static_cast<TThreadStart*>(p);
  HeapFree(GetProcessHeap(), 0, p);
  return s;
}

// Calls fn(param) as a thread function and puts the stack pointer back
// whatever the function did to its parameter (a wrong calling convention).
__attribute__((noinline)) DWORD CallTolerant(LPTHREAD_START_ROUTINE fn, void* param) {
  DWORD result;
  asm volatile(
      "movl %%esp, %%ebx\n\t"
      "pushl %2\n\t"
      "call *%1\n\t"
      "movl %%ebx, %%esp\n\t"
      : "=a"(result)
      : "r"(fn), "r"(param)
      : "ebx", "ecx", "edx", "memory", "cc");
  return result;
}

void Report(uint8_t source, const void* related) {
  if (g_hooks.config.report) g_hooks.config.report(std::current_exception(), source, related);
}

// Runs a thread function or work item; an escaping exception is reported
// and the result becomes -1.
DWORD RunGuarded(LPTHREAD_START_ROUTINE fn, void* param) {
  try {
    return CallTolerant(fn, param);
  } catch (...) {
    Report(16, nullptr);
  }
  return 0xFFFFFFFF;
}

DWORD WINAPI LibraryThreadFrame(void* p) {
  const TThreadStart s = UnpackStart(p);
  const DWORD result = RunGuarded(s.function, s.parameter);
  UnregisterThread(GetCurrentThreadId());
  return result;
}

DWORD WINAPI WorkItemFrame(void* p) {
  const TThreadStart s = UnpackStart(p);
  // A pool thread the registry does not know carries the item's creator
  // while the item runs.
  TThreadInfo known;
  const DWORD self = GetCurrentThreadId();
  const bool borrowed = LookupThread(self, known, 50) && !known.registered && s.creatorAddress;
  if (borrowed) RecordThreadInfo(self, nullptr, "", s.creatorThreadId, s.creatorAddress, "work item");
  const DWORD result = RunGuarded(s.function, s.parameter);
  if (borrowed) UnregisterThread(self);
  return result;
}

TImageRange ImageOf(const char* name) {
  auto* base = reinterpret_cast<const uint8_t*>(GetModuleHandleA(name));
  if (!base) return {};
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(
      base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
  const auto begin = reinterpret_cast<uint32_t>(base);
  return {begin, begin + nt->OptionalHeader.SizeOfImage};
}

void NoteRuntimeImages() {
  int i = 0;
  for (const char* name : {"kernel32.dll", "kernelbase.dll", "ntdll.dll", "msvcrt.dll", "ucrtbase.dll"})
    g_hooks.runtimeImages[i++] = ImageOf(name);
  g_hooks.exeImage = ImageOf(nullptr);
}

bool IsRuntimeCode(uint32_t address) {
  for (const TImageRange& r : g_hooks.runtimeImages)
    if (address >= r.begin && address < r.end) return true;
  return false;
}

// The return address `up` frames above `frame` (1: the frame's own), then
// past the runtime's thread-start code; 0 when the chain leaves the stack.
uint32_t CreatorFrom(const uint32_t* frame, int up) {
  const auto* tib = reinterpret_cast<const NT_TIB*>(__readfsdword(0x18));
  const auto low = reinterpret_cast<uint32_t>(tib->StackLimit), high = reinterpret_cast<uint32_t>(tib->StackBase);
  auto inStack = [&](const uint32_t* f) {
    const auto a = reinterpret_cast<uint32_t>(f);
    return a >= low && a + 8 <= high && (a & 3) == 0;
  };
  uint32_t address = 0;
  for (int i = 0; i < up + 6; ++i) {
    if (!inStack(frame)) return address;
    address = frame[1];
    if (i + 1 >= up && !IsRuntimeCode(address)) return address;
    const auto* next = reinterpret_cast<const uint32_t*>(frame[0]);
    if (next <= frame) return address;
    frame = next;
  }
  return address;
}

// Creates the thread suspended around the library's frame, registers it
// with its creator, then lets it go as asked.
template <typename Create>
HANDLE CreateWrapped(LPTHREAD_START_ROUTINE start, void* param, DWORD flags, LPDWORD id, uint32_t creator,
                     Create create) {
  if (start == LibraryThreadFrame) return create(start, param, flags, id);
  const char* className = t_pending.className;
  if (t_pending.creator) creator = t_pending.creator;
  t_pending.creator = 0;
  t_pending.className = nullptr;
  TThreadStart* packed = PackStart(start, param, creator);
  if (!packed) return create(start, param, flags, id);
  DWORD tid = 0;
  HANDLE h = create(LibraryThreadFrame, packed, flags | CREATE_SUSPENDED, &tid);
  if (!h) {
    const DWORD error = GetLastError();
    HeapFree(GetProcessHeap(), 0, packed);
    SetLastError(error);
    return h;
  }
  HANDLE own = nullptr;
  if (DuplicateHandle(GetCurrentProcess(), h, GetCurrentProcess(), &own, SYNCHRONIZE | THREAD_QUERY_INFORMATION,
                      FALSE, 0))
    RecordThreadInfo(tid, own, "", GetCurrentThreadId(), creator, className ? className : "");
  if (!(flags & CREATE_SUSPENDED)) ResumeThread(h);
  if (id) *id = tid;
  SetLastError(ERROR_SUCCESS);
  return h;
}

bool IsOwnProcess(HANDLE process) {
  return process == GetCurrentProcess() || GetProcessId(process) == GetCurrentProcessId();
}

int CreatorFrames(int base) { return base + (g_hooks.config.creatorOneFrameUp ? 1 : 0); }

HANDLE WINAPI HookCreateThread(LPSECURITY_ATTRIBUTES sa, SIZE_T stack, LPTHREAD_START_ROUTINE start, LPVOID param,
                               DWORD flags, LPDWORD id) {
  const uint32_t creator = CreatorFrom(static_cast<const uint32_t*>(__builtin_frame_address(0)), CreatorFrames(1));
  return CreateWrapped(start, param, flags, id, creator, [&](LPTHREAD_START_ROUTINE f, void* p, DWORD fl, LPDWORD i) {
    return g_hooks.createThread(sa, stack, f, p, fl, i);
  });
}

HANDLE WINAPI HookCreateRemoteThread(HANDLE process, LPSECURITY_ATTRIBUTES sa, SIZE_T stack,
                                     LPTHREAD_START_ROUTINE start, LPVOID param, DWORD flags, LPDWORD id) {
  auto original = reinterpret_cast<TCreateRemoteThread>(g_hooks.internalTarget);
  if (!IsOwnProcess(process)) return original(process, sa, stack, start, param, flags, id);
  const uint32_t creator = CreatorFrom(static_cast<const uint32_t*>(__builtin_frame_address(0)), CreatorFrames(2));
  return CreateWrapped(start, param, flags, id, creator, [&](LPTHREAD_START_ROUTINE f, void* p, DWORD fl, LPDWORD i) {
    return original(process, sa, stack, f, p, fl, i);
  });
}

HANDLE WINAPI HookCreateRemoteThreadEx(HANDLE process, LPSECURITY_ATTRIBUTES sa, SIZE_T stack,
                                       LPTHREAD_START_ROUTINE start, LPVOID param, DWORD flags,
                                       LPPROC_THREAD_ATTRIBUTE_LIST attributes, LPDWORD id) {
  auto original = reinterpret_cast<TCreateRemoteThreadEx>(g_hooks.internalTarget);
  if (!IsOwnProcess(process)) return original(process, sa, stack, start, param, flags, attributes, id);
  const uint32_t creator = CreatorFrom(static_cast<const uint32_t*>(__builtin_frame_address(0)), CreatorFrames(2));
  return CreateWrapped(start, param, flags, id, creator, [&](LPTHREAD_START_ROUTINE f, void* p, DWORD fl, LPDWORD i) {
    return original(process, sa, stack, f, p, fl, attributes, i);
  });
}

BOOL WINAPI HookQueueUserWorkItem(LPTHREAD_START_ROUTINE function, PVOID context, ULONG flags) {
  const uint32_t creator = CreatorFrom(static_cast<const uint32_t*>(__builtin_frame_address(0)), CreatorFrames(1));
  TThreadStart* packed = function ? PackStart(function, context, creator) : nullptr;
  if (!packed) return g_hooks.queueUserWorkItem(function, context, flags);
  if (g_hooks.queueUserWorkItem(WorkItemFrame, packed, flags)) return TRUE;
  const DWORD error = GetLastError();
  HeapFree(GetProcessHeap(), 0, packed);
  SetLastError(error);
  return FALSE;
}

// Modules loaded later get the import patches in force (the thread hooks
// among them) before the caller uses them.
HMODULE Loaded(HMODULE module) {
  if (module) {
    const DWORD error = GetLastError();
    PatchLaterModule(module);
    SetLastError(error);
  }
  return module;
}

HMODULE WINAPI HookLoadLibraryA(LPCSTR name) { return Loaded(g_hooks.loadLibraryA(name)); }
HMODULE WINAPI HookLoadLibraryW(LPCWSTR name) { return Loaded(g_hooks.loadLibraryW(name)); }
HMODULE WINAPI HookLoadLibraryExA(LPCSTR name, HANDLE file, DWORD flags) {
  return Loaded(g_hooks.loadLibraryExA(name, file, flags));
}
HMODULE WINAPI HookLoadLibraryExW(LPCWSTR name, HANDLE file, DWORD flags) {
  return Loaded(g_hooks.loadLibraryExW(name, file, flags));
}

void* ExportOf(const char* module, const char* name) {
  HMODULE m = GetModuleHandleA(module);
  return m ? reinterpret_cast<void*>(GetProcAddress(m, name)) : nullptr;
}

// Redirects the internal call of CreateThread to the remote variant.
bool HookInternalCall() {
  if (!g_hooks.config.findInternalCall) return false;
  void* createThread = ExportOf("kernel32.dll", "CreateThread");
  void* remoteEx = ExportOf("kernelbase.dll", "CreateRemoteThreadEx");
  if (!remoteEx) remoteEx = ExportOf("kernel32.dll", "CreateRemoteThreadEx");
  void* remote = ExportOf("kernel32.dll", "CreateRemoteThread");
  const uint32_t targets[2] = {reinterpret_cast<uint32_t>(remoteEx), reinterpret_cast<uint32_t>(remote)};
  if (!createThread) return false;
  const uint32_t field = g_hooks.config.findInternalCall(reinterpret_cast<uint32_t>(createThread), targets, 2);
  if (!field) return false;
  int32_t displacement;
  std::memcpy(&displacement, reinterpret_cast<const void*>(field), 4);
  const uint32_t target = field + 4 + static_cast<uint32_t>(displacement);
  if (target != targets[0] && target != targets[1]) return false;
  const bool isEx = target == targets[0];
  g_hooks.internalTarget = reinterpret_cast<void*>(target);
  const uint32_t hook = isEx ? reinterpret_cast<uint32_t>(&HookCreateRemoteThreadEx)
                                       : reinterpret_cast<uint32_t>(&HookCreateRemoteThread);
  if (!PatchValue(reinterpret_cast<void*>(field), hook - (field + 4))) return false;
  g_hooks.internalField = field;
  return true;
}

// --- message hooks -------------------------------------------------------------

void RunPauseCheck() {
  if (auto check = g_hooks.pauseCheck.load()) {
    const DWORD error = GetLastError();
    check();
    SetLastError(error);
  }
}

BOOL WINAPI HookGetMessageA(LPMSG m, HWND w, UINT a, UINT b) {
  RunPauseCheck();
  return g_hooks.getMessageA(m, w, a, b);
}
BOOL WINAPI HookGetMessageW(LPMSG m, HWND w, UINT a, UINT b) {
  RunPauseCheck();
  return g_hooks.getMessageW(m, w, a, b);
}
BOOL WINAPI HookPeekMessageA(LPMSG m, HWND w, UINT a, UINT b, UINT r) {
  RunPauseCheck();
  return g_hooks.peekMessageA(m, w, a, b, r);
}
BOOL WINAPI HookPeekMessageW(LPMSG m, HWND w, UINT a, UINT b, UINT r) {
  RunPauseCheck();
  return g_hooks.peekMessageW(m, w, a, b, r);
}

template <typename F>
void Hook(F& original, const char* library, const char* name, F replacement) {
  original = reinterpret_cast<F>(PatchImports(library, name, nullptr, reinterpret_cast<void*>(replacement)));
}

template <typename F>
void Unhook(F& original, F replacement) {
  if (original) UnpatchImports(nullptr, reinterpret_cast<void*>(original), reinterpret_cast<void*>(replacement));
}

// --- the runtime's threads -------------------------------------------------------

struct TPthreadStart {
  void* (*start)(void*);
  void* arg;
};

void* PthreadFrame(void* p) {
  auto* packed = static_cast<TPthreadStart*>(p);
  const TPthreadStart s = *packed;
  delete packed;
  try {
    return s.start(s.arg);
  } catch (...) {
    Report(17, nullptr);
  }
  return reinterpret_cast<void*>(-1);
}

// The return address into the code that called std::thread's start code,
// which keeps no frame of its own: the first word on the stack above this
// frame, below the caller's frame, that follows a call into it.
uint32_t CallerOfThreadStart(const uint32_t* frame) {
  const auto* end = reinterpret_cast<const uint32_t*>(frame[0]);
  if (end <= frame || end - frame > 512) return 0;
  for (const uint32_t* p = frame + 2; p < end + 2; ++p) {
    const uint32_t v = *p;
    if (v < g_hooks.exeImage.begin + 5 || v >= g_hooks.exeImage.end) continue;
    const auto* call = reinterpret_cast<const uint8_t*>(v - 5);
    if (call[0] != 0xE8) continue;
    int32_t displacement;
    std::memcpy(&displacement, call + 1, 4);
    if (g_hooks.config.isRuntimeThreadStart(v + static_cast<uint32_t>(displacement) + 1)) return v;
  }
  return 0;
}

}  // namespace

bool InstallThreadHooks(const TThreadHookConfig& config) {
  std::lock_guard<TSlimLock> lock(g_hooks.lock);
  if (g_hooks.mode != TThreadHookMode::kNone) return true;
  g_hooks.config = config;
  NoteRuntimeImages();
  if (HookInternalCall()) {
    g_hooks.mode = TThreadHookMode::kInternalCall;
  } else {
    Hook(g_hooks.createThread, "kernel32.dll", "CreateThread", &HookCreateThread);
    if (!g_hooks.createThread) return false;
    g_hooks.mode = TThreadHookMode::kImports;
  }
  Hook(g_hooks.queueUserWorkItem, "kernel32.dll", "QueueUserWorkItem", &HookQueueUserWorkItem);
  Hook(g_hooks.loadLibraryA, "kernel32.dll", "LoadLibraryA", &HookLoadLibraryA);
  Hook(g_hooks.loadLibraryW, "kernel32.dll", "LoadLibraryW", &HookLoadLibraryW);
  Hook(g_hooks.loadLibraryExA, "kernel32.dll", "LoadLibraryExA", &HookLoadLibraryExA);
  Hook(g_hooks.loadLibraryExW, "kernel32.dll", "LoadLibraryExW", &HookLoadLibraryExW);
  return true;
}

void RemoveThreadHooks() {
  std::lock_guard<TSlimLock> lock(g_hooks.lock);
  if (g_hooks.mode == TThreadHookMode::kNone) return;
  Unhook(g_hooks.loadLibraryExW, &HookLoadLibraryExW);
  Unhook(g_hooks.loadLibraryExA, &HookLoadLibraryExA);
  Unhook(g_hooks.loadLibraryW, &HookLoadLibraryW);
  Unhook(g_hooks.loadLibraryA, &HookLoadLibraryA);
  Unhook(g_hooks.queueUserWorkItem, &HookQueueUserWorkItem);
  if (g_hooks.mode == TThreadHookMode::kInternalCall) {
    UndoCodePatchAt(reinterpret_cast<void*>(g_hooks.internalField));
    g_hooks.internalField = 0;
  } else {
    Unhook(g_hooks.createThread, &HookCreateThread);
  }
  // The originals stay known: a thread may still be on its way through a hook.
  g_hooks.mode = TThreadHookMode::kNone;
}

TThreadHookMode ThreadHookMode() { return g_hooks.mode; }

bool InstallMessageHooks(void (*pauseCheck)()) {
  std::lock_guard<TSlimLock> lock(g_hooks.lock);
  g_hooks.pauseCheck = pauseCheck;
  if (g_hooks.messageHooks) return true;
  Hook(g_hooks.getMessageA, "user32.dll", "GetMessageA", &HookGetMessageA);
  Hook(g_hooks.peekMessageA, "user32.dll", "PeekMessageA", &HookPeekMessageA);
  Hook(g_hooks.getMessageW, "user32.dll", "GetMessageW", &HookGetMessageW);
  Hook(g_hooks.peekMessageW, "user32.dll", "PeekMessageW", &HookPeekMessageW);
  g_hooks.messageHooks = g_hooks.getMessageA && g_hooks.peekMessageA && g_hooks.getMessageW && g_hooks.peekMessageW;
  if (!g_hooks.messageHooks) {
    Unhook(g_hooks.getMessageA, &HookGetMessageA);
    Unhook(g_hooks.peekMessageA, &HookPeekMessageA);
    Unhook(g_hooks.getMessageW, &HookGetMessageW);
    Unhook(g_hooks.peekMessageW, &HookPeekMessageW);
  }
  return g_hooks.messageHooks;
}

void RemoveMessageHooks() {
  std::lock_guard<TSlimLock> lock(g_hooks.lock);
  if (!g_hooks.messageHooks) return;
  Unhook(g_hooks.getMessageA, &HookGetMessageA);
  Unhook(g_hooks.peekMessageA, &HookPeekMessageA);
  Unhook(g_hooks.getMessageW, &HookGetMessageW);
  Unhook(g_hooks.peekMessageW, &HookPeekMessageW);
  g_hooks.messageHooks = false;
}

bool MessageHooksInstalled() { return g_hooks.messageHooks; }

}  // namespace kestrix

// The runtime's thread objects (std::thread and every pthread): created
// through the library's wrapper, which notes the creator one frame further
// up than the runtime's own start code and runs the thread function inside
// an exception frame (source 17).
extern "C" int __real_pthread_create(pthread_t* thread, const pthread_attr_t* attr, void* (*start)(void*),
                                     void* arg);
extern "C" int __wrap_pthread_create(pthread_t* thread, const pthread_attr_t* attr, void* (*start)(void*),
                                     void* arg) {
  using namespace kestrix;
  if (g_hooks.mode == TThreadHookMode::kNone) return __real_pthread_create(thread, attr, start, arg);
  auto* packed = new (std::nothrow) TPthreadStart{start, arg};
  if (!packed) return __real_pthread_create(thread, attr, start, arg);
  const auto* frame = static_cast<const uint32_t*>(__builtin_frame_address(0));
  // The caller is the runtime's thread object (std::thread) or the program.
  const uint32_t caller = frame[1];
  if (g_hooks.config.isRuntimeThreadStart && g_hooks.config.isRuntimeThreadStart(caller)) {
    t_pending.creator = CallerOfThreadStart(frame);
    t_pending.className = "std::thread";
  }
  if (!t_pending.creator) t_pending.creator = caller;
  const int result = __real_pthread_create(thread, attr, PthreadFrame, packed);
  t_pending.creator = 0;
  t_pending.className = nullptr;
  if (result != 0) delete packed;
  return result;
}
