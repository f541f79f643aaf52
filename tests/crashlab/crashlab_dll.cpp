// A library module for the crash lab with its own copy of the C++ runtime
// (linked with -static-libgcc -static-libstdc++, without Kestrix): a fault
// in its code, and a C++ exception that leaves it, which its own runtime
// cannot pass on to the caller's frames.
#include <stdexcept>

namespace {

class ELabDllError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace

extern "C" __declspec(dllexport) int LabDllFault(volatile int* p) { return *p + 1; }

extern "C" __declspec(dllexport) void LabDllThrow() { throw ELabDllError("Lab DLL error raised on purpose"); }
