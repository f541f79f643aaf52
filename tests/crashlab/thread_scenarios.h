// The crash lab's thread, work-item, pausing and freeze scenarios.
#pragma once

#include <string>

namespace crashlab {

// How long the freeze scenarios keep the main thread (--freeze-ms).
extern int g_freezeMs;

// Runs the named scenario; false when it is none of these.
bool RaiseThreadScenario(const std::string& name);
// What the library left patched or running after its shutdown.
void PrintHooksLeft();
// Starts the freeze watchdog again with the settings as --set left them.
void RestartFreezeWatch();

}  // namespace crashlab
