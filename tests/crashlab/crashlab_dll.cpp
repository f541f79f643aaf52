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

// Threads and work items this module starts itself, knowing nothing of the
// library, that fault in its own code.
#include <windows.h>

namespace {

DWORD WINAPI LabDllFaultingThread(void* address) { return *static_cast<volatile DWORD*>(address); }

}  // namespace

extern "C" __declspec(dllexport) HANDLE LabDllFaultInThread() {
  return CreateThread(nullptr, 0, LabDllFaultingThread, reinterpret_cast<void*>(0x48), 0, nullptr);
}

extern "C" __declspec(dllexport) BOOL LabDllFaultInWorkItem() {
  return QueueUserWorkItem(LabDllFaultingThread, reinterpret_cast<void*>(0x4C), WT_EXECUTEDEFAULT);
}
