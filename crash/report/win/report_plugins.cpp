// The registered report plug-ins.
#include "crash/report/win/report_plugins.h"

#include <mutex>

#include "crash/base/win/critical_section.h"
#include "crash/report/win/kx_exception_object.h"
#include "crash/settings/settings_lists.h"

namespace kestrix {
namespace {

// Leaked, so that reports at exit still find the plug-ins.
std::vector<TReportPlugin>& Plugins() {
  static auto* plugins = new std::vector<TReportPlugin>;
  return *plugins;
}

}  // namespace

void RegisterReportPlugin(const std::string& name, const std::string& description, TPluginProcedure procedure,
                          bool ownSection) {
  std::lock_guard<TCriticalSectionLock> lock(HandlerLock());
  Plugins().push_back({name, description, procedure, ownSection});
}

void UnregisterReportPlugin(const std::string& name) {
  std::lock_guard<TCriticalSectionLock> lock(HandlerLock());
  for (size_t i = 0; i < Plugins().size(); ++i)
    if (Plugins()[i].name == name) {
      Plugins().erase(Plugins().begin() + i);
      return;
    }
}

std::vector<TReportPlugin> PluginsFor(TIKXException* e, bool ownSection) {
  std::vector<TReportPlugin> result;
  const std::vector<std::string> names = ListItems(e->GetRawTextSetting("Plugins"));
  std::lock_guard<TCriticalSectionLock> lock(HandlerLock());
  for (const std::string& name : names)
    for (const TReportPlugin& p : Plugins())
      if (SameText(p.name, name) && p.ownSection == ownSection && p.procedure) {
        result.push_back(p);
        break;
      }
  return result;
}

}  // namespace kestrix
