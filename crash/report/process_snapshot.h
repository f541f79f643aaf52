// The facts a report (and a minidump reader) needs about a process, taken
// once: its threads with their registers, stacks and registry entries, its
// modules, the exception and the memory that was captured. The live
// process, a dump file and a test fake each provide one; the report's
// thread sections are composed from it without touching the process again.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kestrix {

// The 32-bit general, control and segment registers of a thread.
struct TSnapshotRegisters {
  uint32_t eax = 0, ebx = 0, ecx = 0, edx = 0, esi = 0, edi = 0;
  uint32_t ebp = 0, esp = 0, eip = 0, eflags = 0;
  uint16_t cs = 0, ds = 0, es = 0, fs = 0, gs = 0, ss = 0;
};

struct TSnapshotThread {
  uint32_t id = 0;
  // The thread's entry in the library's thread registry.
  bool registered = false;
  std::string name;       // "-": a thread the report leaves out unless it crashed
  std::string className;  // the thread class that created it, when known
  uint32_t creatorAddress = 0;  // the code that created it; 0: unknown
  uint32_t creatorThreadId = 0;
  // What the system says about it; the thread taking the snapshot has no
  // suspend count.
  bool suspended = false;
  int priority = 0;  // relative to normal (THREAD_PRIORITY_*)
  bool haveRegisters = false;
  TSnapshotRegisters registers;
  // Its stack: [stackLimit, stackBase) as the thread's information block
  // gives it; 0 when unknown.
  uint32_t stackLimit = 0, stackBase = 0;
};

struct TSnapshotModule {
  uint32_t base = 0, size = 0;
  std::string path;
  uint32_t versionMS = 0, versionLS = 0;  // file version; 0 when none
  uint32_t timeStamp = 0, checkSum = 0;   // from the image's headers
};

struct TSnapshotException {
  uint32_t code = 0, flags = 0, address = 0;
  uint32_t threadId = 0;
  std::vector<uint32_t> parameters;
  bool haveRegisters = false;
  TSnapshotRegisters registers;  // the context of the exception
};

class IProcessSnapshot {
 public:
  virtual ~IProcessSnapshot() = default;
  virtual uint32_t ProcessId() const = 0;
  // The threads in the order the system lists them.
  virtual const std::vector<TSnapshotThread>& Threads() const = 0;
  virtual const std::vector<TSnapshotModule>& Modules() const = 0;
  // Null when the snapshot was taken without an exception (a freeze, a
  // process trace).
  virtual const TSnapshotException* Exception() const = 0;
  // Copies size bytes at address; false when any of them was not captured
  // or cannot be read. Never faults.
  virtual bool ReadMemory(uint32_t address, void* buffer, uint32_t size) const = 0;
};

// The thread with that id, or null.
const TSnapshotThread* FindSnapshotThread(const IProcessSnapshot& snapshot, uint32_t id);
// The module holding address, or null.
const TSnapshotModule* FindSnapshotModule(const IProcessSnapshot& snapshot, uint32_t address);

}  // namespace kestrix
