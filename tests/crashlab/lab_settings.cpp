#include "lab_settings.h"

#include <windows.h>

#include <vector>

#include "crash/settings/settings_file.h"
#include "crash/settings/win/settings_object.h"

namespace crashlab {
namespace {

// The readable file's texts are UTF-8; the settings hold ANSI.
std::string Utf8ToAnsi(const std::string& text) {
  if (text.empty()) return text;
  const int wide = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring w(wide, L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), w.data(), wide);
  const int n = WideCharToMultiByte(CP_ACP, 0, w.data(), wide, nullptr, 0, nullptr, nullptr);
  std::string out(n, '\0');
  WideCharToMultiByte(CP_ACP, 0, w.data(), wide, out.data(), n, nullptr, nullptr);
  return out;
}

}  // namespace

bool ApplyLabSetting(const std::string& assignment, std::string& error) {
  using namespace kestrix;
  const size_t eq = assignment.find('=');
  if (eq == std::string::npos || eq == 0) {
    error = "--set needs NAME=VALUE";
    return false;
  }
  auto* settings = dynamic_cast<TIKXSettings*>(MainSettings().get());
  if (!settings) {
    error = "no settings to change";
    return false;
  }
  const std::string name = assignment.substr(0, eq);
  // A password is set as the program holds it after loading its record:
  // deciphered.
  const std::string line = name + " = " + assignment.substr(eq + 1) + "\n";
  std::vector<TRecordProperty> properties;
  try {
    properties = ParseSettingsFile(line);
  } catch (const std::exception& e) {
    error = std::string("--set ") + assignment + ": " + e.what();
    return false;
  }
  const TRecordProperty& p = properties.front();
  bool ok = false;
  switch (p.kind) {
    case pkBoolean: ok = settings->SetBoolSetting(p.name.c_str(), p.boolValue); break;
    case pkInteger: ok = settings->SetIntSetting(p.name.c_str(), p.intValue); break;
    case pkText: ok = settings->SetTextSetting(p.name.c_str(), Utf8ToAnsi(p.textValue)); break;
  }
  if (!ok) error = "--set " + assignment + ": the setting holds another kind of value";
  return ok;
}

}  // namespace crashlab
