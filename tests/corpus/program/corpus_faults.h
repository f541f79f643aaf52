// The corpus's fault kinds: each one a function that faults, throws or ends
// the program in one named way.
#pragma once

#include <stdexcept>

namespace corpus {

class ECorpusError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct TFaultKind {
  const char* name;
  void (*raise)();
};

// The kind of that name, or nullptr.
const TFaultKind* FindFaultKind(const char* name);

// Ten fault sites with call stacks of their own: site k reads address 0x100 + 4k.
int FaultAtSite(int site);

// Line-buffered progress output that survives a sudden end of the process.
void Say(const char* format, ...);

}  // namespace corpus
