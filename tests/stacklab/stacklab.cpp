// The call-chain lab: runs one generated case (a chain of functions that
// record their return addresses) and faults at its bottom; the library
// writes the report. Before the library sees the fault, the two baselines
// walk the same stack: the frame-pointer chain and dbghelp's StackWalk64.
// Usage: stacklab <case> --truth <file> [--report <file>]
//        stacklab --list   (the number of cases)
#include <windows.h>
#include <dbghelp.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "kestrix/kestrix.h"
#include "stacklab.h"
#include "stacklab_roots.inc"

namespace {

struct TCase {
  TLabFunction root;
  bool inThread;
};
const TCase kCases[] = {
#include "stacklab_cases.inc"
};

constexpr int kMaxTruth = 20000;
uint32_t g_truth[kMaxTruth];
volatile long g_truthCount = 0;
DWORD g_chainThread = 0;
uint32_t g_pool[64];
int g_poolCount = 0;
std::string g_truthFile;
volatile int* volatile g_null = nullptr;
HANDLE g_blocked = nullptr;
TLabFunction g_next = nullptr;
int g_nextArg = 0;
volatile long g_callbackTaken = 0;

void WriteWalks(const CONTEXT& fault) {
  FILE* f = std::fopen(g_truthFile.c_str(), "w");
  if (!f) return;
  for (long i = 0; i < g_truthCount; ++i) std::fprintf(f, "truth %08x\n", static_cast<unsigned>(g_truth[i]));
  // The chain's thread: the faulting one, or the one that waits beside it.
  CONTEXT c = fault;
  HANDLE thread = GetCurrentThread();
  if (g_chainThread != GetCurrentThreadId()) {
    thread = OpenThread(THREAD_ALL_ACCESS, FALSE, g_chainThread);
    SuspendThread(thread);
    c.ContextFlags = CONTEXT_FULL;
    GetThreadContext(thread, &c);
  }
  MEMORY_BASIC_INFORMATION region;
  VirtualQuery(reinterpret_cast<void*>(c.Esp), &region, sizeof region);
  const uint32_t low = c.Esp, high = reinterpret_cast<uint32_t>(region.BaseAddress) + region.RegionSize;
  // The frame-pointer chain.
  std::fprintf(f, "ebp %08x\n", static_cast<unsigned>(c.Eip));
  for (uint32_t frame = c.Ebp; frame >= low && frame + 8 <= high && !(frame & 3);) {
    const uint32_t* p = reinterpret_cast<const uint32_t*>(frame);
    if (p[1] == 0) break;
    std::fprintf(f, "ebp %08x\n", static_cast<unsigned>(p[1]));
    if (p[0] <= frame) break;
    frame = p[0];
  }
  // dbghelp's walk, which reads the program's unwind tables.
  HANDLE process = GetCurrentProcess();
  SymSetOptions(SYMOPT_DEFERRED_LOADS);
  SymInitialize(process, nullptr, TRUE);
  CONTEXT ctx = c;
  STACKFRAME64 frame{};
  frame.AddrPC.Offset = c.Eip;
  frame.AddrPC.Mode = AddrModeFlat;
  frame.AddrStack.Offset = c.Esp;
  frame.AddrStack.Mode = AddrModeFlat;
  frame.AddrFrame.Offset = c.Ebp;
  frame.AddrFrame.Mode = AddrModeFlat;
  for (int i = 0; i < 2000; ++i) {
    if (!StackWalk64(IMAGE_FILE_MACHINE_I386, process, thread, &frame, &ctx, nullptr, SymFunctionTableAccess64,
                     SymGetModuleBase64, nullptr) ||
        frame.AddrPC.Offset == 0)
      break;
    std::fprintf(f, "dbghelp %08x\n", static_cast<unsigned>(frame.AddrPC.Offset));
  }
  SymCleanup(process);
  std::fclose(f);
  if (g_chainThread != GetCurrentThreadId()) ResumeThread(thread);
}

// Runs before the library's handler: the baselines see the stack as the
// fault left it.
LONG WINAPI Baselines(EXCEPTION_POINTERS* p) {
  static volatile long once = 0;
  if (p->ExceptionRecord->ExceptionCode == EXCEPTION_ACCESS_VIOLATION && InterlockedExchange(&once, 1) == 0)
    WriteWalks(*p->ContextRecord);
  return EXCEPTION_CONTINUE_SEARCH;
}

int Compare(const void* a, const void* b) {
  if (InterlockedExchange(&g_callbackTaken, 1) == 0) {
    lab_record(__builtin_return_address(0));
    g_next(g_nextArg);
  }
  return *static_cast<const int*>(a) - *static_cast<const int*>(b);
}

BOOL CALLBACK EnumOne(HWND, LPARAM) {
  if (InterlockedExchange(&g_callbackTaken, 1) == 0) {
    lab_record(__builtin_return_address(0));
    g_next(g_nextArg);
  }
  return FALSE;
}

// Plausible return addresses for the stale arrays: those of a warm-up chain.
__attribute__((noinline)) void Warm(int n) {
  if (g_poolCount < 64) g_pool[g_poolCount++] = reinterpret_cast<uint32_t>(__builtin_return_address(0));
  if (n > 0) Warm(n - 1);
  lab_keep(n);
}

DWORD WINAPI ChainThread(void* root) {
  reinterpret_cast<TLabFunction>(root)(0);
  return 0;
}

}  // namespace

extern "C" {

void lab_record(void* returnAddress) {
  if (GetCurrentThreadId() != g_chainThread) return;
  const long n = g_truthCount;
  if (n < kMaxTruth) {
    g_truth[n] = reinterpret_cast<uint32_t>(returnAddress);
    g_truthCount = n + 1;
  }
}

__attribute__((noinline)) void lab_keep(int value) { asm volatile("" : : "r"(value) : "memory"); }

__attribute__((noinline)) void lab_fill_stale(volatile uint32_t* words, int count) {
  for (int i = 0; i < count; ++i) words[i] = g_poolCount ? g_pool[(i * 7) % g_poolCount] : 0;
}

__attribute__((noinline)) void lab_fault(int value) {
  lab_record(__builtin_return_address(0));
  *g_null = value;
}

__attribute__((noinline)) void lab_via_qsort(TLabFunction next, int n) {
  lab_record(__builtin_return_address(0));
  int values[3] = {3, 1, 2};
  g_next = next;
  g_nextArg = n;
  std::qsort(values, 3, sizeof(int), Compare);
  lab_keep(values[0]);
}

__attribute__((noinline)) void lab_via_enum(TLabFunction next, int n) {
  lab_record(__builtin_return_address(0));
  g_next = next;
  g_nextArg = n;
  EnumWindows(EnumOne, 0);
  lab_keep(n);
}

__attribute__((noinline)) void lab_block() {
  lab_record(__builtin_return_address(0));
  SetEvent(g_blocked);
  Sleep(INFINITE);
}

}  // extern "C"

// A leaf that faults at its first instruction, before any prologue; it
// records the return address into its caller first.
asm(".text\n"
    ".globl _lab_leaf_fault\n"
    "_lab_leaf_fault:\n"
    "  pushl (%esp)\n"
    "  call _lab_record\n"
    "  addl $4, %esp\n"
    "  movl 0, %eax\n"
    "  ret\n");

int main(int argc, char** argv) {
  const int count = static_cast<int>(sizeof kCases / sizeof kCases[0]);
  if (argc >= 2 && std::strcmp(argv[1], "--list") == 0) {
    std::printf("%d\n", count);
    return 0;
  }
  if (argc < 2) return 2;
  const int index = std::atoi(argv[1]);
  if (index < 0 || index >= count) return 2;
  kestrix::KXPtr<kestrix::IKXSettings> settings = kestrix::MainSettings();
  for (int i = 2; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], "--truth") == 0) g_truthFile = argv[++i];
    else if (std::strcmp(argv[i], "--report") == 0 && settings) settings->SetBugRepFile(argv[++i]);
  }
  Warm(8);
  AddVectoredExceptionHandler(1, Baselines);
  if (kCases[index].inThread) {
    // The chain waits in a thread of its own; the main thread faults.
    g_blocked = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE t = CreateThread(nullptr, 0, ChainThread, reinterpret_cast<void*>(kCases[index].root), CREATE_SUSPENDED,
                            &g_chainThread);
    ResumeThread(t);
    WaitForSingleObject(g_blocked, INFINITE);
    std::printf("chain thread %lx\n", g_chainThread);
    std::fflush(stdout);
    lab_fault(1);
  } else {
    g_chainThread = GetCurrentThreadId();
    kCases[index].root(0);
  }
  return 0;
}
