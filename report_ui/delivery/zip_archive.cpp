// ZIP archives of attachments (see zip_archive.h). Each file is deflated in
// memory first, so that its local header carries the real CRC and sizes and
// no data descriptor is needed.
#include "report_ui/delivery/zip_archive.h"

#include <zlib.h>

#include <cstdio>
#include <limits>
#include <memory>

#include "crash/report/call_stack_text.h"

namespace kestrix {

namespace {

constexpr uint16_t kVersion = 20;            // 2.0: deflate, folders
// Made-by host systems; both mean DOS attributes. Info-ZIP translates the
// names of FAT entries from the OEM code page even when they are flagged as
// UTF-8, so entries with UTF-8 names say NTFS.
constexpr uint16_t kHostFat = 0 << 8;
constexpr uint16_t kHostNtfs = 11 << 8;
constexpr uint16_t kFlagUtf8Name = 1 << 11;  // language encoding flag
constexpr uint16_t kMethodDeflate = 8;
constexpr uint32_t kLocalSignature = 0x04034b50;
constexpr uint32_t kCentralSignature = 0x02014b50;
constexpr uint32_t kEndSignature = 0x06054b50;
constexpr uint64_t kLimit32 = std::numeric_limits<uint32_t>::max();

struct TFileCloser {
  void operator()(FILE* f) const { fclose(f); }
};
using TFile = std::unique_ptr<FILE, TFileCloser>;

struct TEntry {
  std::string name;  // as stored
  uint16_t flags = 0;
  TZipFileInfo info;
  uint32_t crc = 0;
  uint32_t packedSize = 0;
  uint32_t size = 0;
  uint32_t offset = 0;
};

void Put16(std::string& out, uint16_t v) {
  out += static_cast<char>(v & 0xFF);
  out += static_cast<char>(v >> 8);
}

void Put32(std::string& out, uint32_t v) {
  Put16(out, static_cast<uint16_t>(v));
  Put16(out, static_cast<uint16_t>(v >> 16));
}

// The fields local header and central entry have in common, from "version
// needed" to the extra field's length.
void PutCommon(std::string& out, const TEntry& e) {
  Put16(out, kVersion);
  Put16(out, e.flags);
  Put16(out, kMethodDeflate);
  Put16(out, e.info.dosTime);
  Put16(out, e.info.dosDate);
  Put32(out, e.crc);
  Put32(out, e.packedSize);
  Put32(out, e.size);
  Put16(out, static_cast<uint16_t>(e.name.size()));
  Put16(out, 0);
}

enum class TPackStatus { Ok, Unreadable, TooLarge, Failed };

// Reads and deflates one file.
TPackStatus PackFile(const std::string& path, std::string& packed, TEntry& entry) {
  TFile in(fopen(path.c_str(), "rb"));
  if (!in) return TPackStatus::Unreadable;
  z_stream z{};
  if (deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
    return TPackStatus::Failed;
  std::unique_ptr<z_stream, int (*)(z_stream*)> guard(&z, deflateEnd);

  std::vector<unsigned char> chunk(64 * 1024);
  unsigned char outBuf[64 * 1024];
  uint64_t total = 0;
  uint32_t crc = 0;
  packed.clear();
  int flush = Z_NO_FLUSH;
  while (flush != Z_FINISH) {
    size_t got = fread(chunk.data(), 1, chunk.size(), in.get());
    if (ferror(in.get())) return TPackStatus::Unreadable;
    total += got;
    if (total > kLimit32) return TPackStatus::TooLarge;
    crc = ZipCrc32(crc, chunk.data(), got);
    flush = feof(in.get()) ? Z_FINISH : Z_NO_FLUSH;
    z.next_in = chunk.data();
    z.avail_in = static_cast<uInt>(got);
    do {
      z.next_out = outBuf;
      z.avail_out = sizeof outBuf;
      int rc = deflate(&z, flush);
      if (rc == Z_STREAM_ERROR) return TPackStatus::Failed;
      packed.append(reinterpret_cast<const char*>(outBuf), sizeof outBuf - z.avail_out);
    } while (z.avail_out == 0);
  }
  if (packed.size() > kLimit32) return TPackStatus::TooLarge;
  entry.crc = crc;
  entry.size = static_cast<uint32_t>(total);
  entry.packedSize = static_cast<uint32_t>(packed.size());
  return TPackStatus::Ok;
}

bool HasNonAscii(const std::string& text) {
  for (unsigned char c : text)
    if (c >= 0x80) return true;
  return false;
}

}  // namespace

uint32_t ZipCrc32(uint32_t crc, const void* data, size_t size) {
  return ~CrcStep(~crc, data, size);
}

std::string ZipEntryName(const std::string& path) {
  size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

void DosDateTime(int year, int month, int day, int hour, int minute, int second,
                 uint16_t& dosDate, uint16_t& dosTime) {
  if (year < 1980 || year > 2107) {
    dosDate = (1 << 5) | 1;
    dosTime = 0;
    return;
  }
  dosDate = static_cast<uint16_t>(((year - 1980) << 9) | (month << 5) | day);
  dosTime = static_cast<uint16_t>((hour << 11) | (minute << 5) | (second / 2));
}

TZipResult WriteZipArchive(const std::string& archivePath, const std::vector<std::string>& files,
                           const std::vector<std::string>& names, const TZipPlatform& platform) {
  TZipResult result;
  TFile out(fopen(archivePath.c_str(), "wb"));
  if (!out) {
    result.error = "cannot create " + archivePath;
    return result;
  }
  auto fail = [&](const std::string& why) {
    out.reset();
    remove(archivePath.c_str());
    result.error = why;
    return result;
  };

  std::vector<TEntry> entries;
  uint64_t offset = 0;
  std::string packed, header;
  for (size_t i = 0; i < files.size(); ++i) {
    TEntry e;
    TPackStatus status = PackFile(files[i], packed, e);
    if (status == TPackStatus::Failed) return fail("deflate failed for " + files[i]);
    if (status != TPackStatus::Ok) {
      result.leftOut.push_back(files[i]);
      continue;
    }
    std::string name = i < names.size() && !names[i].empty() ? names[i] : ZipEntryName(files[i]);
    e.name = platform.nameToUtf8 ? platform.nameToUtf8(name) : name;
    if (e.name.size() > 0xFFFF) {
      result.leftOut.push_back(files[i]);
      continue;
    }
    if (HasNonAscii(e.name)) e.flags |= kFlagUtf8Name;
    if (platform.fileInfo) platform.fileInfo(files[i], e.info);
    if (offset > kLimit32 || entries.size() == 0xFFFF) return fail("archive too large for the ZIP format");
    e.offset = static_cast<uint32_t>(offset);

    header.clear();
    Put32(header, kLocalSignature);
    PutCommon(header, e);
    header += e.name;
    if (fwrite(header.data(), 1, header.size(), out.get()) != header.size() ||
        fwrite(packed.data(), 1, packed.size(), out.get()) != packed.size())
      return fail("cannot write " + archivePath);
    offset += header.size() + packed.size();
    entries.push_back(std::move(e));
  }

  std::string directory;
  for (const TEntry& e : entries) {
    Put32(directory, kCentralSignature);
    Put16(directory, kVersion | ((e.flags & kFlagUtf8Name) ? kHostNtfs : kHostFat));  // made by
    PutCommon(directory, e);
    Put16(directory, 0);  // comment length
    Put16(directory, 0);  // disk number
    Put16(directory, 0);  // internal attributes
    Put32(directory, e.info.attributes);
    Put32(directory, e.offset);
    directory += e.name;
  }
  if (offset + directory.size() > kLimit32) return fail("archive too large for the ZIP format");
  const auto directorySize = static_cast<uint32_t>(directory.size());
  Put32(directory, kEndSignature);
  Put16(directory, 0);
  Put16(directory, 0);
  Put16(directory, static_cast<uint16_t>(entries.size()));
  Put16(directory, static_cast<uint16_t>(entries.size()));
  Put32(directory, directorySize);
  Put32(directory, static_cast<uint32_t>(offset));
  Put16(directory, 0);  // comment length
  if (fwrite(directory.data(), 1, directory.size(), out.get()) != directory.size())
    return fail("cannot write " + archivePath);
  FILE* f = out.release();
  if (fclose(f) != 0) {
    remove(archivePath.c_str());
    result.error = "cannot write " + archivePath;
    return result;
  }
  result.ok = true;
  return result;
}

}  // namespace kestrix
