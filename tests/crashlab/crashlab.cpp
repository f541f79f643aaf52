// The crash lab: crashes in named ways under the crash-report library, for
// the scenario tests and the benchmark.
//
//   crashlab <scenario> [--set NAME=VALUE]... [--click] [--clicks <n>] [--thread] [--raw-thread]
//            [--report <file>] [--limit <bytes>]
//            [--show <mode>] [--threads <n>] [--times]
//            [--auto-restart <n>] [--restart-mark <file>] [--restart-log <file>] [--restarts <n>]
//            [--chdir <folder>] [--pause] [--main-handler]
//            [--plwait] [--gui] [--cgi] [--after-shutdown] [--visible] [--freeze-ms <ms>]
//            [--mail-test-network <dns port>:<mx port>]
//
// Scenarios: the table kScenarios below, those of thread_scenarios.cpp
// (threads, work items, pausing, the loader lock, freezes), at-exit, at-exit-late,
// at-exit-fault, threads, wait, none. --click raises inside a window's click
// handler (the program goes on), --thread in a thread of its own
// (--raw-thread: one started by CreateThread); without either the exception
// leaves the main program.
//
// Restarts: a restarted process (its exception history not empty) crashes
// again while the history holds fewer than --restarts (1 to 10, default 1)
// exceptions, else it writes the --restart-mark file and ends; with
// --restart-log every process first appends "pid <pid> ring <n> dir <current
// folder at start> cmd <command line>" to that file.
#include <windows.h>
#include <pthread.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "lab_settings.h"
#include "thread_scenarios.h"
#include "crash/handling/win/ending_win32.h"
#include "crash/handling/win/handling_entry_win32.h"
#include "crash/startup/win/startup_win32.h"
#include "kestrix/kestrix.h"
#include "report_ui/mail/win/mail_test_network.h"
#include "crash/threads/win/thread_table_win32.h"

namespace {

class ELabError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};
class ELabFiltered : public ELabError {
 public:
  using ELabError::ELabError;
};

std::string g_scenario;
LARGE_INTEGER g_raisedAt{};
bool g_printRaise = false;  // --times: the moment of the crash goes out first

void MarkRaise() {
  QueryPerformanceCounter(&g_raisedAt);
  if (g_printRaise) {
    LARGE_INTEGER freq;
    QueryPerformanceFrequency(&freq);
    std::printf("raised at %lld per %lld\n", g_raisedAt.QuadPart, freq.QuadPart);
    std::fflush(stdout);
    QueryPerformanceCounter(&g_raisedAt);
  }
}

__attribute__((noinline)) int ReadViolation() {
  volatile int* p = reinterpret_cast<int*>(0x10);
  MarkRaise();
  return *p;
}

__attribute__((noinline)) void WriteViolation() {
  volatile int* p = reinterpret_cast<int*>(0x24);
  MarkRaise();
  *p = 5;
}

__attribute__((noinline)) int DivideByZero() {
  volatile int zero = 0;
  MarkRaise();
  return 100 / zero;
}

__attribute__((noinline)) void ThrowLabError() {
  MarkRaise();
  throw ELabError("Lab error raised on purpose!");
}

// A handler that fails and a plug-in section that faults: the library
// swallows both and still writes the report.
void FailingHandler(kestrix::IKXException*, uint8_t, bool&) { throw std::runtime_error("handler failure"); }
std::string HeaderPlugin(kestrix::IKXException* e) { return "lab item of " + e->ExceptionClassName(); }
std::string FaultingPlugin(kestrix::IKXException*) {
  volatile int* p = nullptr;
  return std::to_string(*p);
}

// A handler that must run in the main thread.
DWORD g_mainThread = 0;
void MainThreadHandler(kestrix::IKXException*, uint8_t, bool&) {
  std::printf("main-thread handler ran %s\n", GetCurrentThreadId() == g_mainThread ? "in the main thread" : "elsewhere");
  std::fflush(stdout);
}

// Hidden exceptions: the one whose message asks for it is reported.
void HiddenHandler(kestrix::IKXException* e, uint8_t, bool& handled) {
  if (e->ExceptionMessageText() == "report me.") handled = false;
}

// --- ways to crash ---------------------------------------------------------

using TLabFunction = int (*)(int);

__attribute__((noinline)) int NullCall() {
  volatile TLabFunction function = nullptr;
  MarkRaise();
  return function(3);
}

__attribute__((noinline)) void DoubleFree() {
  char* volatile block = static_cast<char*>(std::malloc(64));
  MarkRaise();
  std::free(block);
  std::free(block);
}

__attribute__((noinline)) int Recurse(int depth) {
  volatile char pad[512];
  pad[depth % 512] = static_cast<char>(depth);
  return Recurse(depth + 1) + pad[0];
}

// A recursion without unwind information: a fault in it cannot be unwound.
extern "C" void LabRecurseRaw();
asm(".text\n"
    "_LabRecurseRaw:\n"
    "  pushl %ebp\n"
    "  movl %esp, %ebp\n"
    "  subl $1024, %esp\n"
    "  movl %esp, (%esp)\n"
    "  call _LabRecurseRaw\n"
    "  leave\n"
    "  ret\n");

}  // namespace

// A base class whose constructor reaches its pure virtual function (outside
// the unnamed namespace, so that the compiler cannot know every override).
namespace lab {

struct LabShape {
  LabShape();
  virtual ~LabShape() = default;
  virtual int Area() const = 0;
  void Describe() const;
};
struct LabSquare : LabShape {
  int Area() const override { return 4; }
};
struct LabCircle : LabShape {
  int Area() const override { return 3; }
};

__attribute__((noinline)) LabShape::LabShape() { Describe(); }
__attribute__((noinline)) void LabShape::Describe() const {
  MarkRaise();
  std::printf("area %d\n", Area());  // the object is still a LabShape here
}

}  // namespace lab

namespace {

__attribute__((noinline)) void InvalidParameter() {
  // A C runtime function of the system's C runtime, given a zero-sized buffer.
  using Copy = int(__cdecl*)(char*, size_t, const char*);
  auto copy = reinterpret_cast<Copy>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("msvcrt.dll"), "strcpy_s")));
  char buffer[4];
  MarkRaise();
  std::printf("strcpy_s gave %d\n", copy(buffer, 0, "text"));
}

__attribute__((noinline)) void Breakpoint() {
  MarkRaise();
  asm volatile("int3");
}

__attribute__((noinline)) void IllegalInstruction() {
  MarkRaise();
  asm volatile("ud2");
}

__attribute__((noinline)) void PrivilegedInstruction() {
  MarkRaise();
  asm volatile("hlt");
}

HMODULE LabDll() {
  HMODULE dll = LoadLibraryA("crashlab_dll.dll");
  if (!dll) {
    std::puts("crashlab_dll.dll not found");
    std::exit(9);
  }
  return dll;
}

__attribute__((noinline)) void DllFault() {
  auto fault = reinterpret_cast<int (*)(volatile int*)>(reinterpret_cast<void*>(GetProcAddress(LabDll(), "LabDllFault")));
  MarkRaise();
  std::printf("%d\n", fault(reinterpret_cast<int*>(0x44)));
}

__attribute__((noinline)) void DllThrow() {
  auto raise = reinterpret_cast<void (*)()>(reinterpret_cast<void*>(GetProcAddress(LabDll(), "LabDllThrow")));
  MarkRaise();
  try {
    raise();
  } catch (...) {
    std::puts("caught the library module's exception");
  }
}

__attribute__((noinline)) void FastFail() {
  MarkRaise();
  asm volatile("movl $7, %%ecx\n\tint $0x29" ::: "ecx");  // __fastfail(FAST_FAIL_FATAL_APP_EXIT)
}

__attribute__((noinline)) void CallAbort() {
  MarkRaise();
  std::abort();
}

__attribute__((noinline)) void CallTerminate() {
  MarkRaise();
  std::terminate();
}

__attribute__((noinline)) void TerminateWhileHandling() {
  try {
    ThrowLabError();
  } catch (...) {
    std::terminate();
  }
}

__attribute__((noinline)) void AllocateTooMuch() {
  MarkRaise();
  volatile size_t size = 0x7FFF0000;
  char* block = new char[size];
  std::printf("%p\n", static_cast<void*>(block));
}

LONG WINAPI LabFilter(EXCEPTION_POINTERS*) {
  std::puts("the program's own filter ran");
  return EXCEPTION_CONTINUE_SEARCH;
}

__attribute__((noinline)) void FilterOverwritten() {
  SetUnhandledExceptionFilter(LabFilter);
  MarkRaise();
  RaiseException(0xE0004321, 0, 0, nullptr);
}

struct FaultsWhenUnwound {
  ~FaultsWhenUnwound() {
    if (std::uncaught_exceptions()) *reinterpret_cast<volatile int*>(0x38) = 1;
  }
};

__attribute__((noinline)) void FaultInUnwinding() {
  FaultsWhenUnwound guard;
  std::printf("%d\n", ReadViolation());
}

__attribute__((noinline)) void BreakFrameLinkAndFault() {
  // The caller's saved frame link now points nowhere: unwinding the fault
  // faults in the unwinder when it reaches the caller.
  *static_cast<void* volatile*>(__builtin_frame_address(0)) = reinterpret_cast<void*>(0x10);
  std::printf("%d\n", ReadViolation());
}

__attribute__((noinline)) void BrokenFrameChain() {
  BreakFrameLinkAndFault();
  std::puts("not reached");
}

std::string NullCallPlugin(kestrix::IKXException*) { return std::to_string(NullCall()); }

int RecursingHandlerDepth(int depth) {
  volatile char pad[512];
  pad[depth % 512] = 1;
  return RecursingHandlerDepth(depth + 1) + pad[0];
}
void RecursingHandler(kestrix::IKXException*, uint8_t, bool&) { RecursingHandlerDepth(0); }
void NullCallingHandler(kestrix::IKXException*, uint8_t, bool&) { NullCall(); }

struct TScenario {
  const char* name;
  void (*raise)();
};

const TScenario kScenarios[] = {
    {"av-read", [] { std::printf("%d\n", ReadViolation()); }},
    {"av-write", [] { WriteViolation(); }},
    {"div-zero", [] { std::printf("%d\n", DivideByZero()); }},
    {"cpp", [] { ThrowLabError(); }},
    {"abort", [] { throw kestrix::EAbort(); }},
    {"filtered", [] { throw ELabFiltered("Filtered lab error"); }},
    {"nested",
     [] {
       kestrix::RegisterExceptionHandler(kestrix::ekException, FailingHandler, kestrix::tmAnyThread, false);
       kestrix::RegisterReportPlugin("labplugin", "faults", FaultingPlugin, true);
       kestrix::RegisterReportPlugin("labitem", "a header item", HeaderPlugin, false);
       ThrowLabError();
     }},
    {"hidden",
     [] {
       kestrix::RegisterExceptionHandler(kestrix::ekHidden, HiddenHandler, kestrix::tmAnyThread, false);
       for (const char* message : {"quiet", "report me"}) try {
           throw ELabError(message);
         } catch (const ELabError&) {
           // The program deals with it itself.
         }
     }},
    {"sys-av",
     [] {
       // A fault in a system library: no C++ exception, the unhandled-exception
       // filter reports it.
       using Copy = void* (*)(void*, const void*, size_t);
       auto copy =
           reinterpret_cast<Copy>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("msvcrt.dll"), "memcpy")));
       char buffer[16];
       MarkRaise();
       copy(buffer, reinterpret_cast<const void*>(0x30), sizeof buffer);
     }},
    {"sys-code",
     [] {
       MarkRaise();
       RaiseException(0xE0001234, 0, 0, nullptr);
     }},
    {"name-thread",
     [] {
       // The thread-naming request as debuggers know it.
       const char* name = "lab worker";
       ULONG_PTR info[4] = {0x1000, reinterpret_cast<ULONG_PTR>(name), static_cast<ULONG_PTR>(-1), 0};
       RaiseException(0x406D1388, 0, 4, info);
       ThrowLabError();
     }},
    {"null-call", [] { std::printf("%d\n", NullCall()); }},
    {"double-free", [] { DoubleFree(); }},
    {"stack-overflow",
     [] {
       MarkRaise();
       std::printf("%d\n", Recurse(0));
     }},
    {"stack-overflow-raw",
     [] {
       MarkRaise();
       LabRecurseRaw();
     }},
    {"pure-virtual",
     [] {
       lab::LabSquare square;
       lab::LabCircle circle;
     }},
    {"crt-abort", [] { CallAbort(); }},
    {"fast-fail", [] { FastFail(); }},
    {"terminate", [] { CallTerminate(); }},
    {"terminate-active", [] { TerminateWhileHandling(); }},
    {"invalid-parameter", [] { InvalidParameter(); }},
    {"new-fails", [] { AllocateTooMuch(); }},
    {"breakpoint", [] { Breakpoint(); }},
    {"illegal-instruction", [] { IllegalInstruction(); }},
    {"privileged-instruction", [] { PrivilegedInstruction(); }},
    {"dll-fault", [] { DllFault(); }},
    {"dll-throw", [] { DllThrow(); }},
    {"filter-overwritten", [] { FilterOverwritten(); }},
    {"fault-in-unwinding", [] { FaultInUnwinding(); }},
    {"broken-frames", [] { BrokenFrameChain(); }},
    {"plugin-null-call",
     [] {
       kestrix::RegisterReportPlugin("labplugin", "calls nowhere", NullCallPlugin, true);
       ThrowLabError();
     }},
    {"main-handler-null-call",
     [] {
       kestrix::RegisterExceptionHandler(kestrix::ekException, NullCallingHandler, kestrix::tmMainThread, false);
       ThrowLabError();
     }},
    {"handler-recursion",
     [] {
       kestrix::RegisterExceptionHandler(kestrix::ekException, RecursingHandler, kestrix::tmAnyThread, false);
       ThrowLabError();
     }},
};

__attribute__((noinline)) void Raise(const std::string& s) {
  for (const TScenario& scenario : kScenarios)
    if (s == scenario.name) return scenario.raise();
  crashlab::RaiseThreadScenario(s);
}

// The window's event boundary, as a GUI framework has it.
LRESULT CALLBACK LabWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_COMMAND && HIWORD(wp) == BN_CLICKED) {
    try {
      Raise(g_scenario);
    } catch (...) {
      if (!kestrix::HandleEventHandlerException(std::current_exception())) std::puts("not reported");
    }
    return 0;
  }
  return DefWindowProcA(hwnd, msg, wp, lp);
}

// --visible: the lab's window is shown before the clicks (for screenshots).
bool g_visibleForm = false;

void ClickScenario(int clicks) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = LabWindowProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = "TCrashLabForm";
  RegisterClassA(&wc);
  HWND form = CreateWindowExA(0, wc.lpszClassName, "Crash lab", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr,
                              nullptr, wc.hInstance, nullptr);
  HWND button = CreateWindowExA(0, "BUTTON", "crash", WS_CHILD | WS_VISIBLE, 0, 0, 80, 24, form,
                                reinterpret_cast<HMENU>(1), wc.hInstance, nullptr);
  if (g_visibleForm) {
    ShowWindow(form, SW_SHOWNORMAL);
    UpdateWindow(form);
  }
  for (int i = 0; i < clicks; ++i)
    SendMessageA(form, WM_COMMAND, MAKEWPARAM(1, BN_CLICKED), reinterpret_cast<LPARAM>(button));
  DestroyWindow(form);
}

struct ThrowsAtExit {
  bool armed = false;
  ~ThrowsAtExit() noexcept(false) {
    if (armed) throw ELabError("Error at exit");
  }
};
ThrowsAtExit g_atExit;

// Constructed before the library's own static objects, so destroyed after
// them, though still before the library shuts down.
struct FailsLateAtExit {
  int armed = 0;  // 1 throws, 2 faults
  ~FailsLateAtExit() noexcept(false) {
    if (armed == 1) throw ELabError("Late error at exit");
    if (armed == 2) *reinterpret_cast<volatile int*>(0x18) = 1;
  }
};
FailsLateAtExit g_lateAtExit __attribute__((init_priority(200)));

void ExitHandler(kestrix::IKXException* e, uint8_t, bool&) {
  std::printf("exit handler ran: %s\n", e->ExceptionClassName().c_str());
  std::fflush(stdout);
}

// Registered before the library's shutdown, so run after it: what the
// shutdown left behind.
bool g_afterShutdown = false;
void AfterShutdown() {
  if (!g_afterShutdown) return;
  char name[64];
  std::snprintf(name, sizeof name, "KestrixSettingsBuf$%lx", GetCurrentProcessId());
  HANDLE buffer = OpenFileMappingA(FILE_MAP_READ, FALSE, name);
  std::printf("after shutdown: main settings %s, settings list %s\n",
              kestrix::MainSettings() ? "kept" : "dropped", buffer ? "kept" : "gone");
  std::fflush(stdout);
  if (buffer) CloseHandle(buffer);
  crashlab::PrintHooksLeft();
}
__attribute__((constructor(101))) void RegisterAfterShutdown() { std::atexit(AfterShutdown); }

#ifdef CRASHLAB_SETTINGS_DLL
// The library that carries this program's settings (its own record defers).
extern "C" __declspec(dllimport) int LabSettingsLibrary();
#endif

void Idle(HANDLE stop) { WaitForSingleObject(stop, INFINITE); }

// A named worker for the process trace.
void RecordThreadNameForLab() {
  static HANDLE stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE named = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::thread([named] {
    kestrix::AssignThreadName(GetCurrentThreadId(), "lab sleeper");
    SetEvent(named);
    WaitForSingleObject(stop, INFINITE);
  }).detach();
  WaitForSingleObject(named, 5000);
  CloseHandle(named);
}

DWORD WINAPI RawThread(void*) {
  Raise(g_scenario);
  return 7;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fputs("usage: crashlab <scenario> [options]\n", stderr);
    return 2;
  }
  g_scenario = argv[1];
  if (g_scenario == "startup") {
    // The start-up benchmark's mark: the library's start-up is over here.
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    std::printf("main at %lld\nlibrary start-up %.3f ms\n", now.QuadPart, kestrix::StartupMilliseconds());
    return 0;
  }
  g_mainThread = GetCurrentThreadId();
  char startFolder[MAX_PATH] = {};
  GetCurrentDirectoryA(MAX_PATH, startFolder);
  bool click = false, inThread = false, rawThread = false, times = false;
  int clicks = 1;
  std::string restartMark = "restarted.txt", restartLog;
  int restarts = 1;  // a restarted process crashes again while its ring holds fewer exceptions
  int threads = 0;
  kestrix::KXPtr<kestrix::IKXSettings> settings = kestrix::MainSettings();
  for (int i = 2; i < argc; ++i) {
    const std::string a = argv[i];
    const bool more = i + 1 < argc;
    if (a == "--set" && more) {
      std::string error;
      if (!crashlab::ApplyLabSetting(argv[++i], error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 2;
      }
    } else if (a == "--mail-test-network" && more) {
      // "<dns port>:<mail exchanger port>": the local test zone instead of
      // the system's DNS servers (server-mode mail).
      // Never destroyed: a mail still being sent in the background reads it
      // while the program's static objects are being destroyed at exit.
      static auto& network = *new kestrix::mail::TMailTestNetwork;
      const std::string ports = argv[++i];
      network.dnsServers = {"127.0.0.1"};
      network.dnsPort = static_cast<uint16_t>(std::atoi(ports.c_str()));
      network.exchangerPort = static_cast<uint16_t>(std::atoi(ports.substr(ports.find(':') + 1).c_str()));
      kestrix::mail::SetMailTestNetwork(&network);
    } else if (a == "--click") click = true;
    else if (a == "--clicks" && more) click = true, clicks = std::atoi(argv[++i]);
    else if (a == "--thread") inThread = true;
    else if (a == "--raw-thread") rawThread = true;
    else if (a == "--times") times = g_printRaise = true;
    else if (a == "--threads" && more) threads = std::atoi(argv[++i]);
    else if (a == "--report" && more && settings) settings->SetBugRepFile(argv[++i]);
    else if (a == "--limit" && more && settings) settings->SetBugRepFileSize(std::atoi(argv[++i]));
    else if (a == "--show" && more && settings) settings->SetGnShowCfg(std::atoi(argv[++i]));
    else if (a == "--pause" && settings) settings->SetPauseThreads(true);
    else if (a == "--plwait" && settings) settings->SetPlWaitBox(true);
    else if (a == "--gui") kestrix::SetConsoleMode(false);  // present as a GUI program does
    else if (a == "--cgi") kestrix::SetCgiMode(true);  // answer as a CGI program does
    else if (a == "--main-handler")
      kestrix::RegisterExceptionHandler(kestrix::ekException, MainThreadHandler, kestrix::tmMainThread, false);
    else if (a == "--auto-restart" && more && settings) settings->SetAutoRestart(std::atoi(argv[++i]));
    else if (a == "--restart-mark" && more) restartMark = argv[++i];
    else if (a == "--restart-log" && more) restartLog = argv[++i];
    else if (a == "--chdir" && more) SetCurrentDirectoryA(argv[++i]);
    else if (a == "--restarts" && more) restarts = std::min(std::max(std::atoi(argv[++i]), 1), 10);
    else if (a == "--after-shutdown") g_afterShutdown = true;
    else if (a == "--visible") g_visibleForm = true;
    else if (a == "--freeze-ms" && more) crashlab::g_freezeMs = std::atoi(argv[++i]);
  }
  crashlab::RestartFreezeWatch();
#ifdef CRASHLAB_SETTINGS_DLL
  std::printf("settings library %d\n", LabSettingsLibrary());
#endif
  // Started again by a restart: the exception history came along.
  const kestrix::TExceptionTimeRing ring = kestrix::ExceptionTimes();
  int ringCount = 0;
  for (uint64_t t : ring) ringCount += t != 0;
  if (!restartLog.empty()) {
    // Every process of a restart chain says who it is and what it was given.
    if (FILE* f = std::fopen(restartLog.c_str(), "a")) {
      std::fprintf(f, "pid %lu ring %d dir %s cmd %s\n", GetCurrentProcessId(), ringCount, startFolder,
                   GetCommandLineA());
      std::fclose(f);
    }
  }
  if (ringCount != 0) {
    // exit_code --follow waits for this process too: it says when it holds it.
    if (std::getenv("CRASHLAB_FOLLOWED")) {
      char name[64];
      std::snprintf(name, sizeof name, "crashlab-followed-%lx", GetCurrentProcessId());
      HANDLE held = CreateEventA(nullptr, TRUE, FALSE, name);
      WaitForSingleObject(held, 10000);
    }
    if (ringCount >= restarts) {
      if (FILE* f = std::fopen(restartMark.c_str(), "w")) {
        std::fprintf(f, "restarted after %d exception(s)\n", ringCount);
        std::fclose(f);
      }
      return 0;
    }
  }
  if (g_scenario == "wait") {
    // Waits to be traced from outside, at most 60 seconds.
    RecordThreadNameForLab();
    std::printf("waiting %lu\n", GetCurrentProcessId());
    std::fflush(stdout);
    Sleep(60000);
    return 0;
  }
  if (g_scenario == "threads") {
    // How many threads the process has before the program starts any.
    std::printf("threads %u\n", static_cast<unsigned>(kestrix::ThreadIds().size()));
    return 0;
  }
  HANDLE stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::vector<std::thread> idle;
  for (int i = 0; i < threads; ++i) idle.emplace_back(Idle, stop);

  if (g_scenario == "at-exit-late" || g_scenario == "at-exit-fault") {
    kestrix::RegisterExceptionHandler(kestrix::ekException, ExitHandler, kestrix::tmAnyThread, false);
    g_lateAtExit.armed = g_scenario == "at-exit-late" ? 1 : 2;
    std::puts("leaving main");
    std::fflush(stdout);
    return 0;
  }
  if (g_scenario == "at-exit") {
    g_atExit.armed = true;
    std::puts("leaving main");
    std::fflush(stdout);
    return 0;
  }
  if (click) {
    ClickScenario(clicks);
  } else if (rawThread) {
    // A thread function of the system's own kind, with no C++ frame around it.
    HANDLE h = CreateThread(nullptr, 0, RawThread, nullptr, 0, nullptr);
    WaitForSingleObject(h, INFINITE);
    DWORD code = 99;
    GetExitCodeThread(h, &code);
    std::printf("thread ended with %lu\n", code);
    CloseHandle(h);
  } else if (inThread) {
    // The main thread keeps its messages going meanwhile, as a GUI program's does.
    std::thread t([] { Raise(g_scenario); });
    HANDLE h = pthread_gethandle(t.native_handle());
    while (MsgWaitForMultipleObjects(1, &h, FALSE, INFINITE, QS_ALLINPUT) == WAIT_OBJECT_0 + 1) {
      MSG msg;
      while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    }
    t.join();
  } else {
    Raise(g_scenario);
  }
  if (times) {
    LARGE_INTEGER now, freq;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&freq);
    std::printf("handled in %.3f ms\n", (now.QuadPart - g_raisedAt.QuadPart) * 1000.0 / freq.QuadPart);
  }
  SetEvent(stop);
  for (auto& t : idle) t.join();
  std::puts("continued");
  std::fflush(stdout);
  return 0;
}
