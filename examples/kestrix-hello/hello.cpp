// A small program that links Kestrix from its package and crashes on
// request, for people trying the library and for its package test.
//
//   kestrix-hello caught      a null read inside try/catch: caught, goes on
//   kestrix-hello crash       a null read nobody catches: reported, ends
//   kestrix-hello throw       a C++ exception nobody catches
//   kestrix-hello report      a caught exception reported by the program
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include <kestrix/kestrix.h>

// The library's headers leave <windows.h>, and its min and max macros, to
// the program.
static_assert(std::max(1, 2) == 2 && std::min(1, 2) == 1);

namespace {

int ReadThrough(volatile int* p) { return *p; }

int Usage() {
  std::fprintf(stderr, "usage: kestrix-hello caught|crash|throw|report\n");
  return 64;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return Usage();
  std::printf("kestrix active: %s\n", kestrix::KestrixActive() ? "yes" : "no");
  std::fflush(stdout);
  const char* what = argv[1];
  if (std::strcmp(what, "caught") == 0) {
    try {
      ReadThrough(nullptr);
      std::puts("not caught");
    } catch (const std::exception& e) {
      std::printf("caught: %s\n", e.what());
    }
    return 0;
  }
  if (std::strcmp(what, "crash") == 0) return ReadThrough(nullptr);
  if (std::strcmp(what, "throw") == 0) throw std::runtime_error("nobody catches this");
  if (std::strcmp(what, "report") == 0) {
    try {
      throw std::runtime_error("handled, but worth a report");
    } catch (...) {
      const bool reported = kestrix::HandleException(std::current_exception());
      std::printf("reported: %s\n", reported ? "yes" : "no");
    }
    std::puts("going on");
    return 0;
  }
  return Usage();
}
