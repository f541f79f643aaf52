// Rules of the handling flow that need no operating system: the exception
// time ring and the automatic restart/close rule, the class filter groups,
// and the request record that travels through the handling pipe.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace kestrix {

// Times (whole seconds of UTC since 1601) of the last ten exceptions that
// were not hidden, newest first; 0 = no entry.
using TExceptionTimeRing = std::array<uint64_t, 10>;

void PushExceptionTime(TExceptionTimeRing& ring, uint64_t now);

// n = 0: false; n = 1: true; n > 1: all ten entries set and none more than
// n seconds before now (negative n: false).
bool AutoActionDue(int32_t n, const TExceptionTimeRing& ring, uint64_t now);

// One filter group's options (F1, F2 or Gn).
struct TFilterGroupOptions {
  bool noBugRep = false;
  bool noScrShot = false;
  bool noHandlers = false;
  bool noSuspend = false;
  int32_t showCfg = 0;
  std::string assis;
};

// What the chosen group makes of the exception.
struct TFilterResult {
  int group = 0;  // 1 = F1, 2 = F2, 0 = Gn
  bool createBugReport = true;
  bool createScreenshot = true;
  bool attachScreenshot = true;
  bool pauseThreads = true;
  bool callHandlers = true;
  int32_t displayMode = 0;
  std::string assistant;
};

// 1 when the class or an ancestor is named in f1Classes, else 2 for
// f2Classes, else 0.
int ChooseFilterGroup(const std::vector<std::string>& ancestry, const std::string& f1Classes,
                      const std::string& f2Classes);

TFilterResult ApplyFilterGroup(int group, const TFilterGroupOptions& options, int32_t scrShotDepth,
                               bool pauseThreadsSetting);

// Exception types and sources.
enum : uint8_t { etException = 0, etFreeze = 1, etHidden = 2 };
enum : uint8_t {
  esFreeze = 1,
  esShowException = 3,
  esAppShowException = 4,
  esEventHandler = 5,
  esSynchronize = 10,
  esAtExit = 11,
  esUnhandled = 13,
  esSystem = 14,
  esHidden = 15,
  esThreadFunction = 16,
  esThreadExecute = 17,
};

// The record written into the handling pipe: 14 little-endian 32-bit words.
struct TExceptionRequest {
  uint32_t event;          // completion event handle; 0 ends the handling thread
  uint32_t threadId;       // calling thread
  uint32_t type;           // exception type (byte, padded)
  uint32_t object;         // exception object
  uint32_t address;        // exception address
  uint32_t canContinue;    // flag (byte, padded)
  uint32_t stackPointer;   // at the point of capture
  uint32_t framePointer;   // at the point of capture
  uint32_t context;        // CPU context record or 0
  uint32_t reportVar;      // text that receives the report, or 0
  uint32_t source;         // exception source (byte, padded)
  uint32_t related;        // sender or thread object
  uint32_t package;        // package handle
  uint32_t preparedStack;  // prepared-stack marker
};
static_assert(sizeof(TExceptionRequest) == 56, "the handling request is 56 bytes");

}  // namespace kestrix
