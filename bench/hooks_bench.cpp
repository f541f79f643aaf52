// What the thread and message hooks cost, and the freeze watchdog's CPU time
// while idle (run under Wine by hand):
//
//   wine build/win/bench/hooks_bench.exe [rounds]
//
// Hooked and unhooked rounds alternate in one run; medians are printed.
// Thread creation: 2,000 threads created and joined per round. Message
// loop: 10^6 PeekMessageA calls on an empty queue. Watchdog: its thread's
// CPU time over 10 s of an idle message loop with FreezeTimeout 60000 (a
// probe every 6 s) and 1000 (every 100 ms).
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "crash/handling/win/handling_win32.h"
#include "crash/startup/win/startup_win32.h"
#include "crash/threads/win/thread_hooks_win32.h"
#include "crash/threads/win/thread_table_win32.h"
#include "crash/watchdog/win/freeze_watch_win32.h"

namespace {

double Now() {
  LARGE_INTEGER c, f;
  QueryPerformanceCounter(&c);
  QueryPerformanceFrequency(&f);
  return c.QuadPart * 1000.0 / f.QuadPart;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

DWORD WINAPI Nothing(void*) { return 0; }

double CreateThreads() {
  const double t0 = Now();
  for (int i = 0; i < 2000; ++i) {
    HANDLE h = CreateThread(nullptr, 0, Nothing, nullptr, 0, nullptr);
    WaitForSingleObject(h, INFINITE);
    CloseHandle(h);
  }
  return Now() - t0;
}

double PeekLoop() {
  MSG msg;
  const double t0 = Now();
  for (int i = 0; i < 1000000; ++i) PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);
  return Now() - t0;
}

void Hooks(bool on) {
  if (on) {
    kestrix::InstallLibraryThreadHooks();
    kestrix::InstallMessageHooks(kestrix::PauseCheck);
  } else {
    kestrix::RemoveMessageHooks();
    kestrix::RemoveThreadHooks();
  }
}

double ThreadCpuMs(HANDLE h) {
  FILETIME c, e, k, u;
  if (!GetThreadTimes(h, &c, &e, &k, &u)) return -1;
  auto ms = [](FILETIME f) { return ((static_cast<ULONGLONG>(f.dwHighDateTime) << 32) | f.dwLowDateTime) / 1e4; };
  return ms(k) + ms(u);
}

// The watchdog's CPU time over `seconds` while the main thread idles in
// its message loop (answering the probes).
double WatchdogIdleCpu(uint32_t timeout, int seconds) {
  if (!kestrix::StartFreezeWatch(timeout)) return -1;
  HANDLE h = OpenThread(THREAD_QUERY_INFORMATION, FALSE, kestrix::FreezeWatchThreadId());
  const double before = ThreadCpuMs(h);
  const DWORD until = GetTickCount() + seconds * 1000;
  UINT_PTR timer = SetTimer(nullptr, 0, 50, nullptr);
  MSG msg;
  while (static_cast<LONG>(GetTickCount() - until) < 0 && GetMessageA(&msg, nullptr, 0, 0) > 0)
    DispatchMessageA(&msg);
  KillTimer(nullptr, timer);
  const double used = ThreadCpuMs(h) - before;
  CloseHandle(h);
  kestrix::StopFreezeWatch();
  return used;
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 7;
  kestrix::OpenThreadTable();
  kestrix::CreateLibraryWindow();
  std::vector<double> plainThreads, hookedThreads, plainPeek, hookedPeek;
  for (int r = 0; r < rounds; ++r) {
    for (bool on : {false, true}) {
      Hooks(on);
      (on ? hookedThreads : plainThreads).push_back(CreateThreads());
      (on ? hookedPeek : plainPeek).push_back(PeekLoop());
    }
  }
  Hooks(false);
  const double pt = Median(plainThreads), ht = Median(hookedThreads);
  const double pp = Median(plainPeek), hp = Median(hookedPeek);
  std::printf("thread create+join x2000: plain %.1f ms, hooked %.1f ms (%+.1f%%, %.1f us per thread)\n", pt, ht,
              (ht / pt - 1) * 100, (ht - pt) * 1000 / 2000);
  std::printf("PeekMessageA x10^6: plain %.1f ms, hooked %.1f ms (%+.2f%%)\n", pp, hp, (hp / pp - 1) * 100);
  for (uint32_t timeout : {60000u, 1000u})
    std::printf("watchdog CPU over 10 s idle (FreezeTimeout %u): %.2f ms\n", timeout, WatchdogIdleCpu(timeout, 10));
  std::fflush(stdout);
  return 0;
}
