// The attachment folder: every file stored once under the SHA-256 of its
// bytes ("ab/cdef…"), written to a temporary name, flushed to disk and then
// renamed, so that a file either is there whole or not at all.
#pragma once

#include <string>
#include <string_view>

namespace kestrix::collector {

std::string Sha256Hex(std::string_view data);
bool IsSha256Hex(std::string_view text);

class TAttachmentStore {
 public:
  explicit TAttachmentStore(std::string folder);
  // Stores data (once); returns its hash, or empty with error set.
  std::string Put(std::string_view data, std::string& error);
  bool Get(const std::string& hash, std::string& data) const;
  const std::string& Folder() const { return folder_; }

 private:
  std::string PathOf(const std::string& hash) const;
  std::string folder_;
};

}  // namespace kestrix::collector
