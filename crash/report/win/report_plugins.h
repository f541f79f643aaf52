// The registered report plug-ins (RegisterReportPlugin in kestrix/handling.h).
#pragma once

#include <string>
#include <vector>

#include "kestrix/handling.h"

namespace kestrix {

class TIKXException;

struct TReportPlugin {
  std::string name, description;
  TPluginProcedure procedure = nullptr;
  bool ownSection = false;
};
// The registered plug-ins named in the exception's Plugins setting, in its
// order, that have (or have not) their own section.
std::vector<TReportPlugin> PluginsFor(TIKXException* exception, bool ownSection);

}  // namespace kestrix
