// The class filter groups (F1, F2, Gn) and the exception types and sources
// every catch point passes on.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kestrix {

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

}  // namespace kestrix
