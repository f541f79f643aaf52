// libFuzzer target: the settings record parser on any input. Each input is
// copied to a buffer of exactly its size so that ASan catches any read past
// the resource.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "crash/settings/settings_record.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::unique_ptr<uint8_t[]> copy(new uint8_t[size ? size : 1]);
  if (size) std::memcpy(copy.get(), data, size);
  // Half of the runs start with the valid prefix so that the entries are reached.
  const bool withPrefix = size > 0 && (data[0] & 1);
  std::unique_ptr<uint8_t[]> prefixed;
  const uint8_t* input = copy.get();
  size_t length = size;
  if (withPrefix) {
    length = kestrix::kRecordPrefixSize + size - 1;
    prefixed.reset(new uint8_t[length]);
    std::memcpy(prefixed.get(), kestrix::kRecordPrefix, kestrix::kRecordPrefixSize);
    std::memcpy(prefixed.get() + kestrix::kRecordPrefixSize, data + 1, size - 1);
    input = prefixed.get();
  }
  kestrix::TRecordParseResult r = kestrix::ParseSettingsRecord(input, length);
  if (r.status == kestrix::TRecordStatus::Ok) {
    // What was read writes back to a record that parses to the same count.
    std::vector<kestrix::TRecordProperty> props = r.properties;
    for (auto& p : props)
      if (p.valueType == kestrix::vaWString) p.valueType = kestrix::vaLString;
    std::vector<unsigned char> again = kestrix::WriteSettingsRecord(props);
    if (kestrix::ParseSettingsRecord(again.data(), again.size()).properties.size() !=
        r.properties.size())
      __builtin_trap();
  }
  return 0;
}
