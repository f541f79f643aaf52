#include "crash/exception/exception_filters.h"

#include "kestrix/exceptions.h"

namespace kestrix {

int ChooseFilterGroup(const std::vector<std::string>& ancestry, const std::string& f1Classes,
                      const std::string& f2Classes) {
  if (ClassInList(ancestry, f1Classes)) return 1;
  if (ClassInList(ancestry, f2Classes)) return 2;
  return 0;
}

TFilterResult ApplyFilterGroup(int group, const TFilterGroupOptions& options, int32_t scrShotDepth,
                               bool pauseThreadsSetting) {
  TFilterResult r;
  r.group = group;
  r.createBugReport = !options.noBugRep;
  r.createScreenshot = !options.noScrShot && scrShotDepth > 0;
  r.attachScreenshot = r.createScreenshot;
  r.pauseThreads = !options.noSuspend && pauseThreadsSetting;
  r.callHandlers = !options.noHandlers;
  r.displayMode = options.showCfg;
  r.assistant = options.assis;
  return r;
}

}  // namespace kestrix
