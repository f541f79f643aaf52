// --set NAME=VALUE for the crash lab: any setting by its name, the value
// written as in the readable settings file ("true", 42, "a text").
#pragma once

#include <string>

namespace crashlab {

// Changes the main settings; false with `error` set when the assignment is
// malformed, the value does not fit the setting, or no settings exist.
bool ApplyLabSetting(const std::string& assignment, std::string& error);

}  // namespace crashlab
