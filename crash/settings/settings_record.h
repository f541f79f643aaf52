// The settings record: the component stream stored as the resource
// RCDATA "TKESTRIX". One module for both sides: the build step writes it,
// the library parses it at run time.
//
//   "TPF0", #8 "TKestrix", #7 "Kestrix", properties..., #0
//   property = name (length byte + ANSI chars), value type byte, value
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kestrix {

// Value type bytes of the stream.
enum TValueType : uint8_t {
  vaInt8 = 2,      // signed 8-bit
  vaInt16 = 3,     // signed 16-bit, little-endian
  vaInt32 = 4,     // signed 32-bit, little-endian
  vaString = 6,    // length byte, ANSI characters
  vaFalse = 8,     // no value
  vaTrue = 9,      // no value
  vaLString = 12,  // 32-bit length, ANSI characters
  vaWString = 18,  // 32-bit count of UTF-16 units, the units
};

// What a property becomes once read (the kind byte of a property entry).
enum TPropertyKind : uint8_t {
  pkText = 0,
  pkInteger = 1,
  pkBoolean = 2,
};

// The 21 bytes every record starts with.
extern const unsigned char kRecordPrefix[21];
constexpr size_t kRecordPrefixSize = sizeof kRecordPrefix;

// One property as written to or read from a record.
struct TRecordProperty {
  std::string name;
  TPropertyKind kind = pkText;
  bool boolValue = false;
  int32_t intValue = 0;
  std::string textValue;  // ANSI bytes (UTF-8 in the readable file)
  // Writer: the value type to use; 0 picks the smallest fitting one (texts
  // with non-ASCII characters go out as vaWString, converted from UTF-8).
  uint8_t valueType = 0;
};

enum class TRecordStatus {
  Ok,           // the whole list up to its end marker was read
  NoPrefix,     // wrong or missing prefix: the record counts as empty
  UnknownType,  // a value type byte outside the table; see badType
  Truncated,    // the data ended inside an entry or before the end marker
};

struct TRecordParseResult {
  std::vector<TRecordProperty> properties;  // all entries read before any error
  TRecordStatus status = TRecordStatus::Ok;
  uint8_t badType = 0;
};

// Converts UTF-16 text to the ANSI code page.
using TWideToAnsi = std::string (*)(const char16_t* units, size_t count);
// Portable fall-back: Latin-1, "?" for everything beyond.
std::string WideToLatin1(const char16_t* units, size_t count);

// Parses a record; never reads outside [data, data + size).
TRecordParseResult ParseSettingsRecord(const void* data, size_t size,
                                       TWideToAnsi toAnsi = WideToLatin1);

// Writes a record. Throws std::invalid_argument for a property that cannot
// be stored (name longer than 255 bytes, integer out of range of a forced
// type, invalid UTF-8 for a wide string).
std::vector<unsigned char> WriteSettingsRecord(
    const std::vector<TRecordProperty>& properties);

// The record with `property` set: the entries of other names copied byte
// for byte, those of its name dropped, the property written last. Throws
// std::invalid_argument when the record cannot be read to its end.
std::vector<unsigned char> SetRecordProperty(const void* data, size_t size, const TRecordProperty& property);

// The value type the writer uses for a property.
uint8_t ChooseValueType(const TRecordProperty& property);

// The message shown for a record that cannot be read to its end:
// "Internal error: Invalid settings resource (<type byte in hex>)."
std::string InvalidRecordMessage(const TRecordParseResult& result);

// UTF-8 <-> UTF-16 for the wide-string type; false on malformed input.
bool Utf8ToUtf16(const std::string& text, std::u16string& out);

}  // namespace kestrix
