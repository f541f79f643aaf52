// The parsed form of a setting and the built-in default table.
#pragma once

#include <cstddef>
#include <cstdint>

#include "crash/settings/settings_record.h"

namespace kestrix {

// One parsed setting. Only the field that matches the kind is meaningful,
// except that integer reads return intValue whatever the kind. Names and
// texts are zero-terminated; an empty text is stored as nullptr.
struct TPropertyEntry {
  char* name;
  uint8_t kind;       // TPropertyKind
  uint8_t boolValue;  // 0 or 1
  int32_t intValue;
  char* textValue;
};

constexpr size_t kDefaultSettingCount = 125;
// Every setting except Assistant1.. and MinDebugInfo, in table order.
extern const TPropertyEntry kDefaultSettings[kDefaultSettingCount];

// Exact, case-sensitive search; nullptr when absent.
const TPropertyEntry* FindDefaultSetting(const char* name);

// The kind a setting of this name has: the default table's, text for
// MinDebugInfo and Assistant<n>. False for names the library does not know.
bool KnownSettingKind(const char* name, TPropertyKind& kind);

}  // namespace kestrix
