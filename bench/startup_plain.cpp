// The floor of the start-up benchmark: a program that does nothing, built
// like the crash lab but without Kestrix. Prints the high-resolution
// counter on entering main ("main at <ticks>").
#include <windows.h>

#include <cstdio>

int main() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  std::printf("main at %lld\n", now.QuadPart);
  return 0;
}
