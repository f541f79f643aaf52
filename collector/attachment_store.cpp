// The content-addressed attachment folder (see attachment_store.h).
#include "collector/attachment_store.h"

#include <fcntl.h>
#include <openssl/sha.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

namespace kestrix::collector {

namespace {

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = write(fd, data.data(), data.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

void SyncFolder(const std::string& folder) {
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY);
  if (fd >= 0) {
    fsync(fd);
    close(fd);
  }
}

}  // namespace

std::string Sha256Hex(std::string_view data) {
  unsigned char digest[SHA256_DIGEST_LENGTH];
  SHA256(reinterpret_cast<const unsigned char*>(data.data()), data.size(), digest);
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (unsigned char b : digest) {
    out += kHex[b >> 4];
    out += kHex[b & 15];
  }
  return out;
}

bool IsSha256Hex(std::string_view text) {
  if (text.size() != 64) return false;
  for (char c : text)
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  return true;
}

TAttachmentStore::TAttachmentStore(std::string folder) : folder_(std::move(folder)) {
  mkdir(folder_.c_str(), 0755);
}

std::string TAttachmentStore::PathOf(const std::string& hash) const {
  return folder_ + "/" + hash.substr(0, 2) + "/" + hash.substr(2);
}

std::string TAttachmentStore::Put(std::string_view data, std::string& error) {
  const std::string hash = Sha256Hex(data);
  const std::string path = PathOf(hash);
  struct stat st;
  if (stat(path.c_str(), &st) == 0 && static_cast<size_t>(st.st_size) == data.size()) return hash;
  const std::string sub = folder_ + "/" + hash.substr(0, 2);
  if (mkdir(sub.c_str(), 0755) != 0 && errno != EEXIST) {
    error = "cannot create " + sub + ": " + std::strerror(errno);
    return std::string();
  }
  static std::atomic<unsigned> counter{0};
  const std::string temp = sub + "/.tmp." + std::to_string(getpid()) + "." + std::to_string(counter++);
  const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    error = "cannot write " + temp + ": " + std::strerror(errno);
    return std::string();
  }
  const bool ok = WriteAll(fd, data) && fsync(fd) == 0;
  close(fd);
  if (!ok || rename(temp.c_str(), path.c_str()) != 0) {
    error = "cannot store an attachment: " + std::string(std::strerror(errno));
    unlink(temp.c_str());
    return std::string();
  }
  SyncFolder(sub);
  return hash;
}

bool TAttachmentStore::Get(const std::string& hash, std::string& data) const {
  if (!IsSha256Hex(hash)) return false;
  std::ifstream in(PathOf(hash), std::ios::binary);
  if (!in) return false;
  data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

}  // namespace kestrix::collector
