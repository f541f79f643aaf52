#include "corpus_faults.h"

#include <windows.h>

#include <malloc.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <new>

// Functions of the DLL (corpus_dll.cpp).
extern "C" {
__declspec(dllimport) int CorpusDllNullRead(int* volatile p);
__declspec(dllimport) int CorpusDllDivide(int a, int b);
__declspec(dllimport) void CorpusDllThrow();
}

// Kept out of line and out of inter-procedural optimisation, so that every
// fault happens in the function of its name.
#define CORPUS_FAULT __attribute__((noinline, noipa))

namespace corpus {

void Say(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vprintf(format, args);
  va_end(args);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

// Outside the anonymous namespace: the compiler cannot know every class
// derived from CorpusShape, so the call below stays virtual.
struct CorpusShape {
  CorpusShape() { DescribeShape(); }
  virtual ~CorpusShape() = default;
  virtual int Area() const = 0;
  // Called by the constructor: the object is still a CorpusShape.
  CORPUS_FAULT void DescribeShape() const { Say("area %d", Area()); }
};

struct CorpusSquare : CorpusShape {
  int Area() const override { return 4; }
};

namespace {

CORPUS_FAULT int CorpusNullRead() {
  volatile int* volatile p = nullptr;
  return *p;
}

CORPUS_FAULT void CorpusNullWrite() {
  volatile int* volatile p = nullptr;
  *p = 7;
}

CORPUS_FAULT int CorpusNullCall() {
  int (*volatile function)(int) = nullptr;
  return function(3) + 1;
}

CORPUS_FAULT int CorpusDivideByZero() {
  volatile int zero = 0;
  return 100 / zero;
}

CORPUS_FAULT void CorpusDoubleFree() {
  char* volatile block = static_cast<char*>(std::malloc(64));
  std::free(block);
  std::free(block);
}

CORPUS_FAULT int CorpusRecurse(int depth) {
  static int (*volatile next)(int) = CorpusRecurse;
  volatile char pad[256];
  pad[depth & 255] = static_cast<char>(depth);
  return next(depth + 1) + pad[0];
}

CORPUS_FAULT void CorpusPureVirtualCall() { CorpusSquare square; }

CORPUS_FAULT void CorpusAbort() { std::abort(); }

CORPUS_FAULT void CorpusTerminate() { std::terminate(); }

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wterminate"
CORPUS_FAULT void CorpusThrowInNoexcept() noexcept { throw ECorpusError("thrown in a noexcept function"); }
#pragma GCC diagnostic pop

CORPUS_FAULT void CorpusInvalidParameter() {
  char buffer[4];
  Say("strcpy_s gave %d", static_cast<int>(strcpy_s(buffer, 0, "text")));
}

CORPUS_FAULT void CorpusNewFails() {
  volatile size_t size = 0x7FFFFFF0;
  char* block = new char[size];
  Say("got %p", static_cast<void*>(block));
}

CORPUS_FAULT void CorpusBreakpoint() { asm volatile("int3"); }

CORPUS_FAULT void CorpusIllegalInstruction() { asm volatile("ud2"); }

CORPUS_FAULT void CorpusPrivilegedInstruction() { asm volatile("hlt"); }

CORPUS_FAULT void CorpusThrow() { throw std::runtime_error("nobody catches this runtime_error"); }

CORPUS_FAULT void CorpusRaiseException() { RaiseException(0xE0C0FFEE, 0, 0, nullptr); }

CORPUS_FAULT BOOL CALLBACK CorpusEnumCallback(HWND, LPARAM) {
  volatile int* volatile p = nullptr;
  return *p;
}

// A fault while the C runtime's heap is locked, as a fault inside malloc
// on a corrupted heap would leave it.
CORPUS_FAULT void CorpusFaultHoldingHeap() {
  const auto heap = reinterpret_cast<HANDLE>(_get_heap_handle());
  HeapLock(heap);
  volatile int* volatile p = nullptr;
  const int value = *p;
  HeapUnlock(heap);
  std::printf("read %d\n", value);
}

CORPUS_FAULT void CorpusFaultInCallback() {
  // One top-level window at least, so that the callback runs.
  HWND window = CreateWindowExA(0, "STATIC", "corpus", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                GetModuleHandleA(nullptr), nullptr);
  EnumWindows(CorpusEnumCallback, 0);
  DestroyWindow(window);
}

CORPUS_FAULT void CorpusCaughtNullRead() {
  try {
    CorpusNullRead();
    Say("not caught");
  } catch (const std::exception& e) {
    Say("caught: %s", e.what());
  }
}

LONG WINAPI CorpusOwnFilter(EXCEPTION_POINTERS*) {
  Say("the program's own filter ran");
  return EXCEPTION_CONTINUE_SEARCH;
}

CORPUS_FAULT void CorpusFilterOverwritten() {
  SetUnhandledExceptionFilter(CorpusOwnFilter);
  RaiseException(0xE0F117E2, 0, 0, nullptr);
}

CORPUS_FAULT void CorpusFastFail() {
  asm volatile("int $0x29" : : "c"(7) : "memory");  // __fastfail(FAST_FAIL_FATAL_APP_EXIT)
}

CORPUS_FAULT void CorpusDllFault() { Say("%d", CorpusDllNullRead(nullptr)); }

CORPUS_FAULT void CorpusDllDivideByZero() { Say("%d", CorpusDllDivide(5, 0)); }

CORPUS_FAULT void CorpusDllException() {
  try {
    CorpusDllThrow();
  } catch (...) {
    Say("caught the DLL's exception");
  }
}

#define CORPUS_SITE(K)                                                  \
  CORPUS_FAULT int CorpusSite##K() {                                    \
    volatile int* volatile p = reinterpret_cast<int*>(0x100 + 4 * (K)); \
    return *p;                                                          \
  }
CORPUS_SITE(0)
CORPUS_SITE(1)
CORPUS_SITE(2)
CORPUS_SITE(3)
CORPUS_SITE(4)
CORPUS_SITE(5)
CORPUS_SITE(6)
CORPUS_SITE(7)
CORPUS_SITE(8)
CORPUS_SITE(9)
#undef CORPUS_SITE

const TFaultKind kFaultKinds[] = {
    {"null-read", [] { CorpusNullRead(); }},
    {"null-write", CorpusNullWrite},
    {"null-call", [] { CorpusNullCall(); }},
    {"div-zero", [] { CorpusDivideByZero(); }},
    {"double-free", CorpusDoubleFree},
    {"stack-overflow", [] { CorpusRecurse(0); }},
    {"pure-virtual", CorpusPureVirtualCall},
    {"abort", CorpusAbort},
    {"terminate", CorpusTerminate},
    {"noexcept-throw", CorpusThrowInNoexcept},
    {"invalid-parameter", CorpusInvalidParameter},
    {"new-fails", CorpusNewFails},
    {"breakpoint", CorpusBreakpoint},
    {"illegal-instruction", CorpusIllegalInstruction},
    {"privileged-instruction", CorpusPrivilegedInstruction},
    {"cpp-throw", CorpusThrow},
    {"raise-exception", CorpusRaiseException},
    {"callback", CorpusFaultInCallback},
    {"heap-locked", CorpusFaultHoldingHeap},
    {"caught-null-read", CorpusCaughtNullRead},
    {"filter-overwritten", CorpusFilterOverwritten},
    {"fast-fail", CorpusFastFail},
    {"dll-null-read", CorpusDllFault},
    {"dll-div-zero", CorpusDllDivideByZero},
    {"dll-throw", CorpusDllException},
};

}  // namespace

const TFaultKind* FindFaultKind(const char* name) {
  for (const TFaultKind& kind : kFaultKinds)
    if (std::strcmp(kind.name, name) == 0) return &kind;
  return nullptr;
}

int FaultAtSite(int site) {
  static int (*const kSites[])() = {CorpusSite0, CorpusSite1, CorpusSite2, CorpusSite3, CorpusSite4,
                                     CorpusSite5, CorpusSite6, CorpusSite7, CorpusSite8, CorpusSite9};
  return kSites[site % 10]();
}

}  // namespace corpus
