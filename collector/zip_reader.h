// Reading the ZIP archives the library packs attachments into: the central
// directory, stored and deflated entries, each checked against its CRC-32.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kestrix::collector {

struct TZipEntry {
  std::string name;
  std::string content;
};

bool LooksLikeZip(std::string_view data);

// False with the reason for a damaged or unsupported archive, or when the
// entries together would exceed maxTotal bytes.
bool ReadZipArchive(std::string_view data, std::vector<TZipEntry>& entries, std::string& error,
                    size_t maxTotal = 64u << 20, size_t maxEntries = 1000);

}  // namespace kestrix::collector
