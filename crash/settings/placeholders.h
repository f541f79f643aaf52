// Placeholder expansion in text settings: "%appname%", "%modname%",
// "%appversion%", "%modversion%", "%exceptMsg%", "%bugReport%", "%LF%",
// "%date%", "%time%", "%datetime%", replaced in that order, each everywhere
// and ignoring letter case.
#pragma once

#include <cstdint>
#include <string>

namespace kestrix {

struct TLocalTime {
  int year, month, day, hour, minute, second, millisecond;
};

// Where the values come from; asked only for placeholders the text holds.
class TPlaceholderSource {
 public:
  virtual std::string AppName() = 0;     // executable's file name
  virtual std::string ModName() = 0;     // settings' module file name
  virtual std::string AppVersion() = 0;  // see VersionDisplayText
  virtual std::string ModVersion() = 0;
  virtual TLocalTime Now() = 0;

 protected:
  ~TPlaceholderSource() = default;
};

std::string ExpandPlaceholders(const std::string& text, TPlaceholderSource& source,
                               const std::string& exceptMsg, const std::string& bugReport);

// "2026-12-07"
std::string FormatDate(const TLocalTime& t);
// "09:05:03, 7ms": milliseconds without leading zeros.
std::string FormatTime(const TLocalTime& t);

// The version shown for a module: its version text when set, else the file
// version as "major.minor.release.build" from the two 32-bit halves, "?"
// when the file version is 0.
std::string VersionDisplayText(const std::string& versionText, uint32_t versionMS,
                               uint32_t versionLS);

}  // namespace kestrix
