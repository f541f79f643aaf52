// Binary form definitions of the assistant pages, stored as resources
// RCDATA "TKX" + the upper-cased form name. One module for both sides: the
// build step (kxforms) writes them from the readable files, the form
// runtime reads them.
//
//   "TPF0", object
//   object   = class name, object name (length byte + ANSI characters each),
//              properties..., #0, child objects..., #0
//   property = name (length byte + characters), value type byte, value
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kestrix {

// Value type bytes.
enum TFormValueType : uint8_t {
  fvInt8 = 2,
  fvInt16 = 3,
  fvInt32 = 4,
  fvString = 6,  // length byte, characters
  fvIdent = 7,   // length byte, characters
  fvFalse = 8,
  fvTrue = 9,
  fvLString = 12,  // 32-bit length, characters
};

struct TFormProperty {
  std::string name;
  uint8_t type = fvString;  // as stored; the writer picks the size of integers and strings
  int32_t intValue = 0;
  std::string text;  // strings and identifiers

  // The value as the runtime's setters take it: decimal integers, "0"/"1"
  // for booleans, the text of strings and identifiers.
  std::string ValueText() const;
};

struct TFormObject {
  std::string className;
  std::string name;
  std::vector<TFormProperty> properties;
  std::vector<TFormObject> children;
};

struct TFormReadResult {
  TFormObject root;    // everything read before an error
  bool valid = false;  // the whole definition was read
  // "Internal error: Invalid assistant resource (…)." when not valid.
  std::string error;
};

// Deepest nesting of child objects a definition may have.
constexpr int kFormMaxDepth = 16;

// Reads a definition; never reads outside [data, data + size). Data that
// does not begin with "TPF0" is no definition (valid, empty root).
TFormReadResult ReadFormDefinition(const void* data, size_t size);

// Writes a definition. Throws std::invalid_argument for what cannot be
// stored (a name longer than 255 bytes, an unknown value type).
std::vector<uint8_t> WriteFormDefinition(const TFormObject& root);

// The error text of a definition with the value type `type`.
std::string InvalidFormResourceText(const std::string& what);

// The resource name of a form: "TKX" + the name in upper case.
std::string FormResourceName(const std::string& formName);

}  // namespace kestrix
