// TraceStack's time on a 64-frame call chain (64 different functions) and
// on a 4,000-frame recursion, each traced from its bottom, under Wine:
//   wine build/win/bench/stack_trace_bench.exe [runs]
// The first trace of a run pays for parsing the functions (they are parsed
// once per process); the figures are the first trace and the median of the
// ones after it.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "debuginfo/stack/win/stack_trace_win32.h"

namespace {

int g_runs = 20;
std::vector<double> g_times;
size_t g_lines = 0;

double Now() {
  LARGE_INTEGER f, t;
  QueryPerformanceFrequency(&f);
  QueryPerformanceCounter(&t);
  return 1000.0 * static_cast<double>(t.QuadPart) / static_cast<double>(f.QuadPart);
}

__attribute__((noinline)) void TraceHere() {
  for (int i = 0; i < g_runs; ++i) {
    const double start = Now();
    const kestrix::stack::TTraceResult r = kestrix::stack::TraceCurrentThread(false, true, true);
    g_times.push_back(Now() - start);
    g_lines = r.items.size();
  }
}

template <int N>
__attribute__((noinline)) void Chain(volatile int* keep) {
  Chain<N - 1>(keep);
  ++*keep;
}
template <>
__attribute__((noinline)) void Chain<0>(volatile int* keep) {
  TraceHere();
  ++*keep;
}

__attribute__((noinline)) void Recurse(int n, volatile int* keep) {
  if (n > 0) {
    Recurse(n - 1, keep);
  } else {
    TraceHere();
  }
  ++*keep;
}

void Report(const char* what) {
  const double first = g_times.front();
  std::vector<double> rest(g_times.begin() + 1, g_times.end());
  std::sort(rest.begin(), rest.end());
  std::printf("%-22s lines %5zu  first %8.2f ms  median %8.2f ms  (%zu runs)\n", what, g_lines, first,
              rest.empty() ? first : rest[rest.size() / 2], g_times.size());
  g_times.clear();
}

DWORD WINAPI BigStackThread(void*) {
  volatile int keep = 0;
  Recurse(4000, &keep);
  Report("4000-frame recursion");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1) g_runs = std::max(2, std::atoi(argv[1]));
  volatile int keep = 0;
  Chain<63>(&keep);
  Report("64-frame chain");
  HANDLE t = CreateThread(nullptr, 8 << 20, BigStackThread, nullptr, 0, nullptr);
  WaitForSingleObject(t, INFINITE);
  CloseHandle(t);
  return 0;
}
