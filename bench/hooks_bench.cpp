// What the thread and message hooks cost, and the freeze watchdog's CPU time
// while idle (run under Wine by hand):
//
//   wine build/win/bench/hooks_bench.exe [rounds]
//
// Hooked and unhooked rounds alternate in one run; medians are printed.
// Thread creation: 2,000 threads created and joined per round. Message
// loop: 10^6 PeekMessageA calls on an empty queue. Watchdog: the process's
// CPU time over 10 s of an idle message loop without a watchdog and with
// FreezeTimeout 60000 (a probe every 6 s) and 1000 (every 100 ms).
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "crash/handling/win/library_window_win32.h"
#include "crash/handling/win/pausing_win32.h"
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

// What a hooked message call adds to the original: the pause check with
// the last error kept, 10^7 times.
double PauseCheckAlone() {
  const double t0 = Now();
  for (int i = 0; i < 10000000; ++i) {
    const DWORD error = GetLastError();
    kestrix::PauseCheck();
    SetLastError(error);
  }
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

// The process's CPU time in ms. Under Wine, GetProcessTimes says 0: then
// the host's account of the process (/proc/self/stat, utime + stime in
// 1/100 s) is read through Wine's drive Z:.
double ProcessCpuMs() {
  char buf[1024] = {};
  HANDLE f = CreateFileA("Z:\\proc\\self\\stat", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (f != INVALID_HANDLE_VALUE) {
    DWORD n = 0;
    ReadFile(f, buf, sizeof buf - 1, &n, nullptr);
    CloseHandle(f);
    // Fields after the command's closing parenthesis: state is field 3,
    // utime 14, stime 15.
    if (const char* p = std::strrchr(buf, ')')) {
      unsigned long long v[13] = {};
      char state = 0;
      if (std::sscanf(p + 2, "%c %llu %llu %llu %llu %llu %llu %llu %llu %llu %llu %llu %llu", &state, &v[0], &v[1],
                      &v[2], &v[3], &v[4], &v[5], &v[6], &v[7], &v[8], &v[9], &v[10], &v[11]) == 13)
        return (v[10] + v[11]) * 10.0;
    }
  }
  FILETIME c, e, k, u;
  if (!GetProcessTimes(GetCurrentProcess(), &c, &e, &k, &u)) return -1;
  auto ms = [](FILETIME t) { return ((static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e4; };
  return ms(k) + ms(u);
}

// The process's CPU time over `seconds` while the main thread idles in its
// message loop (answering the probes when a watchdog runs).
double IdleCpu(uint32_t timeout, int seconds) {
  if (timeout && !kestrix::StartFreezeWatch(timeout)) return -1;
  const double before = ProcessCpuMs();
  const DWORD until = GetTickCount() + seconds * 1000;
  UINT_PTR timer = SetTimer(nullptr, 0, 500, nullptr);
  MSG msg;
  while (static_cast<LONG>(GetTickCount() - until) < 0 && GetMessageA(&msg, nullptr, 0, 0) > 0)
    DispatchMessageA(&msg);
  KillTimer(nullptr, timer);
  const double used = ProcessCpuMs() - before;
  if (timeout) kestrix::StopFreezeWatch();
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
  // ms per 10^6 calls is ns per call; ms per 10^7 calls / 10 too.
  const double check = PauseCheckAlone() / 10, plainCall = pp;
  std::printf("the hook's own work: %.1f ns per call, %.4f%% of a plain PeekMessageA (%.0f ns)\n", check,
              check / plainCall * 100, plainCall);
  for (uint32_t timeout : {0u, 60000u, 1000u})
    std::printf("process CPU over 10 s idle, FreezeTimeout %u%s: %.0f ms\n", timeout, timeout ? "" : " (no watchdog)",
                IdleCpu(timeout, 10));
  std::fflush(stdout);
  return 0;
}
