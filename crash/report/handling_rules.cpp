#include "crash/report/handling_rules.h"

#include "crash/exception/kx_exception.h"

namespace kestrix {

void PushExceptionTime(TExceptionTimeRing& ring, uint64_t now) {
  for (size_t i = ring.size() - 1; i > 0; --i) ring[i] = ring[i - 1];
  ring[0] = now;
}

bool AutoActionDue(int32_t n, const TExceptionTimeRing& ring, uint64_t now) {
  if (n <= 0) return false;
  if (n == 1) return true;
  for (uint64_t t : ring) {
    if (t == 0) return false;
    if (t < now && now - t > static_cast<uint64_t>(n)) return false;
  }
  return true;
}

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
