// corpus_dll.dll: a library module with its own copy of the C++ runtime
// (linked statically, without Kestrix). Its functions fault or throw, so
// that the fault or the exception crosses the module boundary.
#include <stdexcept>

#define CORPUS_DLL extern "C" __declspec(dllexport) __attribute__((noinline, noipa))

namespace {

class ECorpusDllError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace

CORPUS_DLL int CorpusDllNullRead(int* volatile p) { return *p + 1; }

CORPUS_DLL int CorpusDllDivide(int a, volatile int b) { return a / b; }

// The module's own runtime cannot pass this exception on to the caller's
// frames: it ends the process through its own std::terminate.
CORPUS_DLL void CorpusDllThrow() { throw ECorpusDllError("corpus DLL error"); }
