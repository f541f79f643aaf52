// kxcorpus: a program outside the library that links Kestrix from its
// installed package (kxcorpus_plain: the same source without it) and ends
// in one named way per run.
//
//   kxcorpus <kind> [main|thread|raw-thread|window|static-init|at-exit]
//   kxcorpus many-threads    100 threads fault together at ten sites, nobody catches
//   kxcorpus idle            starts and ends, nothing else
//   kxcorpus many-handled    10 threads fault 10 times each at ten sites; each fault
//                            is caught and passed to HandleException
//
// Kinds: corpus_faults.cpp. Places: in main; in a std::thread; in a thread
// started by CreateThread; in a window procedure behind an event boundary as
// a GUI framework has it; in a static constructor; in a function run at
// exit. A program that goes on after the fault prints "went on" and exits 0.
// KXCORPUS_DUMP_KIND set: the reports have minidumps of that kind beside them.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <thread>
#include <vector>

#include "corpus_faults.h"

#ifdef KXCORPUS_KESTRIX
#include <kestrix/kestrix.h>
#endif

namespace {

using corpus::Say;
using corpus::TFaultKind;

const char* LibraryState() {
#ifdef KXCORPUS_KESTRIX
  return kestrix::KestrixActive() ? "active" : "inactive";
#else
  return "absent";
#endif
}

const TFaultKind* g_kind = nullptr;

void RaiseKind() { g_kind->raise(); }

// What an event boundary does with an exception nobody in the handler caught.
void HandleEventError(std::exception_ptr error) {
#ifdef KXCORPUS_KESTRIX
  if (kestrix::HandleEventHandlerException(error)) return;
#endif
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    Say("event handler error: %s", e.what());
  } catch (...) {
    Say("event handler error");
  }
}

LRESULT CALLBACK CorpusWindowProc(HWND window, UINT message, WPARAM wp, LPARAM lp) {
  if (message == WM_APP) {
    try {
      RaiseKind();
    } catch (...) {
      HandleEventError(std::current_exception());
    }
    return 0;
  }
  return DefWindowProcA(window, message, wp, lp);
}

void InWindowProcedure() {
  WNDCLASSA wc{};
  wc.lpfnWndProc = CorpusWindowProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = "TCorpusForm";
  RegisterClassA(&wc);
  HWND window = CreateWindowExA(0, wc.lpszClassName, "corpus", 0, 0, 0, 100, 100, HWND_MESSAGE, nullptr,
                                wc.hInstance, nullptr);
  SendMessageA(window, WM_APP, 0, 0);
  DestroyWindow(window);
}

DWORD WINAPI CorpusRawThread(void*) {
  RaiseKind();
  return 7;
}

void InRawThread() {
  HANDLE thread = CreateThread(nullptr, 0, CorpusRawThread, nullptr, 0, nullptr);
  WaitForSingleObject(thread, INFINITE);
  DWORD code = 99;
  GetExitCodeThread(thread, &code);
  CloseHandle(thread);
  Say("thread ended with %lu", code);
}

void CorpusAtExit() {
  Say("at exit");
  RaiseKind();
}

// 100 threads wait for one signal, then each faults at site i % 10.
void ManyThreads() {
  HANDLE go = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::vector<std::thread> threads;
  for (int i = 0; i < 100; ++i)
    threads.emplace_back([go, i] {
      WaitForSingleObject(go, INFINITE);
      corpus::FaultAtSite(i);
    });
  SetEvent(go);
  for (std::thread& t : threads) t.join();
  CloseHandle(go);
  Say("all threads ended");
}

// 10 threads, each faulting at the ten sites in turn; the program catches
// every fault and hands it to the library.
void ManyHandled() {
  HANDLE go = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::vector<std::thread> threads;
  for (int i = 0; i < 10; ++i)
    threads.emplace_back([go] {
      WaitForSingleObject(go, INFINITE);
      for (int site = 0; site < 10; ++site) try {
          corpus::FaultAtSite(site);
        } catch (...) {
#ifdef KXCORPUS_KESTRIX
          if (kestrix::HandleException(std::current_exception())) continue;
#endif
          Say("not reported");
        }
    });
  SetEvent(go);
  for (std::thread& t : threads) t.join();
  CloseHandle(go);
  Say("all threads ended");
}

int Usage() {
  std::fputs("usage: kxcorpus <kind> [main|thread|raw-thread|window|static-init|at-exit] | many-threads | many-handled\n",
             stderr);
  return 64;
}

bool StaticInitRequested() { return __argc == 3 && std::strcmp(__argv[2], "static-init") == 0; }

#ifdef KXCORPUS_KESTRIX
// KXCORPUS_DUMP_KIND: a minidump of that kind beside every report, set
// through the settings API before anything can crash.
struct CorpusDumpKind {
  CorpusDumpKind() {
    const char* kind = std::getenv("KXCORPUS_DUMP_KIND");
    if (kind && *kind)
      if (kestrix::KXPtr<kestrix::IKXSettings> settings = kestrix::MainSettings()) settings->SetDumpKind(std::atoi(kind));
  }
} g_dumpKind;
#endif

// Runs before main, after the library's own start-up.
struct CorpusStaticInit {
  CorpusStaticInit() {
    if (!StaticInitRequested() || !(g_kind = corpus::FindFaultKind(__argv[1]))) return;
    Say("library: %s", LibraryState());
    Say("static initialisation");
    RaiseKind();
  }
} g_staticInit;

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) return Usage();
  if (StaticInitRequested()) {
    Say("static initialisation went by");
    return 0;
  }
  Say("library: %s", LibraryState());
  // Nothing but start and exit (what the library costs a program that does
  // not crash).
  if (std::strcmp(argv[1], "idle") == 0) return 0;
  const char* place = argc == 3 ? argv[2] : "main";
  if (std::strcmp(argv[1], "many-threads") == 0) {
    ManyThreads();
  } else if (std::strcmp(argv[1], "many-handled") == 0) {
    ManyHandled();
  } else if (!(g_kind = corpus::FindFaultKind(argv[1]))) {
    return Usage();
  } else if (std::strcmp(place, "main") == 0) {
    RaiseKind();
  } else if (std::strcmp(place, "thread") == 0) {
    std::thread(RaiseKind).join();
  } else if (std::strcmp(place, "raw-thread") == 0) {
    InRawThread();
  } else if (std::strcmp(place, "window") == 0) {
    InWindowProcedure();
  } else if (std::strcmp(place, "at-exit") == 0) {
    std::atexit(CorpusAtExit);
    Say("leaving main");
    return 0;
  } else {
    return Usage();
  }
  Say("went on");
  return 0;
}
