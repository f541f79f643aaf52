// What becomes of an operating-system exception: thrown on as a C++
// exception where unwinding from it can work, left to the system where its
// own code may handle it, otherwise reported from a fresh stack with the
// process ending afterwards. A second fault while a thread handles its first
// never starts a second round. Plain rules over what is known of the fault,
// so that they are tested natively.
#pragma once

#include <cstdint>

namespace kestrix {

enum class TFaultAction : uint8_t {
  kPass,          // not a fault of ours to decide: the system's search goes on
  kConvert,       // thrown as a C++ exception at the faulting instruction
  kReport,        // cannot be unwound: reported from a fresh stack, then the process ends
  kReportFirst,   // a second fault while the first is handled: the first is reported, the process ends
  kLibraryFault,  // in a thread of the library: the report being made is saved, the process ends
  kEnd,           // a fault while a fault is being reported: the process ends at once
};

// Where the faulting instruction lies.
enum class TCodeOwner : uint8_t {
  kNone,     // in no module (address 0, freed code)
  kProgram,  // in a module built for fault conversion (the executable)
  kOther,    // in another module: system libraries, foreign library modules
};

struct TFaultFacts {
  uint32_t code = 0;
  bool noncontinuable = false;
  TCodeOwner owner = TCodeOwner::kNone;
  bool unwindInfo = false;   // the program's unwinder knows the faulting instruction
  bool stackUsable = false;  // the stack pointer lies in the thread's stack, below its top
  uint32_t stackRoom = 0;    // bytes between the stack pointer and the stack's end
  bool libraryThread = false;  // a thread of the library, or one busy with its handling
  bool inHandler = false;      // the fault arose inside the library's fault handler
  bool throwInFlight = false;  // an exception of this thread is being thrown or unwound
  bool firstPending = false;   // ... and it is a converted fault not yet caught
  bool inRescue = false;       // the thread is reporting a fault that could not be unwound
};

// Stack room below which a stack overflow is not thrown on: the unwinder and
// a catch point's reporting need about this much.
constexpr uint32_t kMinStackRoomToConvert = 16 * 1024;

// The exception codes of processor faults (and the stack overflow) that the
// library decides about; every other code passes.
bool IsProcessorFault(uint32_t code);

// The decision at first sight, before any handler of the system's own.
TFaultAction DecideFault(const TFaultFacts& facts);

// The decision for an exception nothing else handled (the unhandled-exception
// filter): only the thread's state matters then.
TFaultAction DecideUnhandled(const TFaultFacts& facts);

}  // namespace kestrix
