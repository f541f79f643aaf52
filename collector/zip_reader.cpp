// Reading ZIP archives (see zip_reader.h).
#include "collector/zip_reader.h"

#include <zlib.h>

#include <cstdint>
#include <cstring>

#include "report_ui/delivery/zip_archive.h"

namespace kestrix::collector {

namespace {

uint16_t U16(std::string_view d, size_t at) {
  return static_cast<uint16_t>(static_cast<uint8_t>(d[at]) | static_cast<uint8_t>(d[at + 1]) << 8);
}
uint32_t U32(std::string_view d, size_t at) { return U16(d, at) | static_cast<uint32_t>(U16(d, at + 2)) << 16; }

bool Inflate(std::string_view in, size_t expected, std::string& out) {
  out.assign(expected, '\0');
  z_stream z{};
  if (inflateInit2(&z, -MAX_WBITS) != Z_OK) return false;
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
  z.avail_in = static_cast<uInt>(in.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(expected);
  int r = inflate(&z, Z_FINISH);
  // An empty entry may end without the stream's end when nothing was asked for.
  const bool ok = r == Z_STREAM_END && z.total_out == expected;
  inflateEnd(&z);
  return ok;
}

}  // namespace

bool LooksLikeZip(std::string_view data) { return data.size() >= 4 && data.substr(0, 4) == std::string_view("PK\3\4", 4); }

bool ReadZipArchive(std::string_view data, std::vector<TZipEntry>& entries, std::string& error, size_t maxTotal,
                    size_t maxEntries) {
  entries.clear();
  // The end record: its signature within the last 64 KiB + 22 bytes.
  if (data.size() < 22) {
    error = "the archive is too short";
    return false;
  }
  size_t end = std::string_view::npos;
  const size_t lowest = data.size() > 65557 ? data.size() - 65557 : 0;
  for (size_t p = data.size() - 22 + 1; p-- > lowest;) {
    if (U32(data, p) == 0x06054b50) {
      end = p;
      break;
    }
  }
  if (end == std::string_view::npos) {
    error = "the archive has no end record";
    return false;
  }
  const size_t count = U16(data, end + 10);
  const size_t dirSize = U32(data, end + 12), dirOffset = U32(data, end + 16);
  if (dirOffset > end || dirSize > end - dirOffset) {
    error = "the archive's directory lies outside it";
    return false;
  }
  if (count > maxEntries) {
    error = "too many entries in the archive";
    return false;
  }
  size_t total = 0;
  size_t at = dirOffset;
  for (size_t i = 0; i < count; ++i) {
    if (at + 46 > dirOffset + dirSize || U32(data, at) != 0x02014b50) {
      error = "a damaged directory entry";
      return false;
    }
    const uint16_t flags = U16(data, at + 8), method = U16(data, at + 10);
    const uint32_t crc = U32(data, at + 16), packed = U32(data, at + 20), size = U32(data, at + 24);
    const size_t nameLength = U16(data, at + 28), extra = U16(data, at + 30), comment = U16(data, at + 32);
    const size_t local = U32(data, at + 42);
    if (at + 46 + nameLength + extra + comment > dirOffset + dirSize) {
      error = "a damaged directory entry";
      return false;
    }
    TZipEntry entry;
    entry.name.assign(data.substr(at + 46, nameLength));
    at += 46 + nameLength + extra + comment;
    if (flags & 1) {
      error = "an encrypted entry";
      return false;
    }
    if (local + 30 > dirOffset || U32(data, local) != 0x04034b50) {
      error = "a damaged local header";
      return false;
    }
    const size_t dataAt = local + 30 + U16(data, local + 26) + U16(data, local + 28);
    if (dataAt > dirOffset || packed > dirOffset - dataAt) {
      error = "an entry's data lies outside the archive";
      return false;
    }
    if (size > maxTotal - total) {
      error = "the archive unpacks to more than the size limit";
      return false;
    }
    total += size;
    const std::string_view bytes = data.substr(dataAt, packed);
    if (method == 0) {
      if (packed != size) {
        error = "a stored entry whose sizes differ";
        return false;
      }
      entry.content.assign(bytes);
    } else if (method == 8) {
      if (!Inflate(bytes, size, entry.content)) {
        error = "an entry that does not inflate to its size";
        return false;
      }
    } else {
      error = "an entry packed with method " + std::to_string(method);
      return false;
    }
    if (ZipCrc32(0, entry.content.data(), entry.content.size()) != crc) {
      error = "an entry whose CRC-32 does not match";
      return false;
    }
    entries.push_back(std::move(entry));
  }
  return true;
}

}  // namespace kestrix::collector
