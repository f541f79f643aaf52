// thread_dump WHY PROGRAM...: the backtraces of every thread of every
// running process of the named programs (for test harnesses outside Wine).
#include <string>
#include <vector>

#include "wine_threads.h"

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  std::vector<std::string> names(argv + 2, argv + argc);
  winethreads::DumpProgramThreads(argv[1], names);
  return 0;
}
