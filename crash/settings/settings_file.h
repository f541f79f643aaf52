// The readable settings file from which the build step writes a module's
// settings record: one setting per line, in record order.
//
//   # comment
//   Enabled = true
//   FreezeTimeout = 60000
//   MailAddr = "bugs@example.org"        # C-style escapes: \" \\ \n \r \t \xHH
//   Custom : int16 = 7                   # type for settings the library does not know
//
// Known settings take their kind from the built-in table; the optional type
// is one of boolean, integer, text (kind only) or int8, int16, int32, string,
// lstring, wstring (exact value type). The file is UTF-8; texts with
// non-ASCII characters are stored as wide strings.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "crash/settings/settings_record.h"

namespace kestrix {

class TSettingsFileError : public std::runtime_error {
 public:
  TSettingsFileError(int line, const std::string& message)
      : std::runtime_error("line " + std::to_string(line) + ": " + message), line_(line) {}
  int Line() const { return line_; }

 private:
  int line_;
};

// Throws TSettingsFileError.
std::vector<TRecordProperty> ParseSettingsFile(const std::string& text);

// The build step's password conversion: SmtpPassword and HttpPassword,
// when not empty, are replaced by their stored (enciphered) form keyed with
// SmtpAccount/SmtpServer and HttpAccount/HttpServer.
void EncipherPasswords(std::vector<TRecordProperty>& properties);

// The readable form of a list of properties (what --dump prints); parsing
// it gives the same list back.
std::string FormatSettingsFile(const std::vector<TRecordProperty>& properties);

}  // namespace kestrix
