#include "crash/settings/placeholders.h"

#include <cstdio>

#include "crash/settings/settings_lists.h"

namespace kestrix {

namespace {

bool Holds(const std::string& text, const char* placeholder) {
  return ReplaceTextIgnoreCase(text, placeholder, "") != text;
}

void Replace(std::string& text, const char* placeholder, const std::string& value) {
  text = ReplaceTextIgnoreCase(text, placeholder, value);
}

}  // namespace

std::string FormatDate(const TLocalTime& t) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d", t.year, t.month, t.day);
  return buffer;
}

std::string FormatTime(const TLocalTime& t) {
  char buffer[48];
  std::snprintf(buffer, sizeof buffer, "%02d:%02d:%02d, %dms", t.hour, t.minute, t.second,
                t.millisecond);
  return buffer;
}

std::string VersionDisplayText(const std::string& versionText, uint32_t versionMS,
                               uint32_t versionLS) {
  if (!versionText.empty()) return versionText;
  if (versionMS == 0 && versionLS == 0) return "?";
  return std::to_string(versionMS >> 16) + "." + std::to_string(versionMS & 0xFFFF) + "." +
         std::to_string(versionLS >> 16) + "." + std::to_string(versionLS & 0xFFFF);
}

std::string ExpandPlaceholders(const std::string& input, TPlaceholderSource& source,
                               const std::string& exceptMsg, const std::string& bugReport) {
  if (input.find('%') == std::string::npos) return input;
  std::string text = input;
  if (Holds(text, "%appname%")) Replace(text, "%appname%", source.AppName());
  if (Holds(text, "%modname%")) Replace(text, "%modname%", source.ModName());
  if (Holds(text, "%appversion%")) Replace(text, "%appversion%", source.AppVersion());
  if (Holds(text, "%modversion%")) Replace(text, "%modversion%", source.ModVersion());
  Replace(text, "%exceptMsg%", exceptMsg.empty() ? std::string("Unknown") : exceptMsg);
  Replace(text, "%bugReport%", bugReport);
  Replace(text, "%LF%", "\r\n");
  bool date = Holds(text, "%date%"), time = Holds(text, "%time%"),
       dateTime = Holds(text, "%datetime%");
  if (date || time || dateTime) {
    TLocalTime now = source.Now();
    Replace(text, "%date%", FormatDate(now));
    Replace(text, "%time%", FormatTime(now));
    Replace(text, "%datetime%", FormatDate(now) + ", " + FormatTime(now));
  }
  return text;
}

}  // namespace kestrix
