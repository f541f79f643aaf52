// The ZIP writer's pieces: CRC-32, DOS times, entry names, and the header
// fields that the platform supplies (time, attributes, converted names).
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "crash/base/little_endian.h"
#include "report_ui/delivery/zip_archive.h"

namespace kestrix {
namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string TempPath(const char* name) {
  const char* dir = getenv("TEMP");
  if (!dir) dir = getenv("TMPDIR");
  return std::string(dir ? dir : "/tmp") + "/" + name;
}

TEST(ZipArchive, Crc32MatchesZlibAcrossPieces) {
  std::string data;
  for (int i = 0; i < 100000; ++i) data += static_cast<char>(i * 7 + (i >> 5));
  uLong expected = crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size()));
  uint32_t crc = ZipCrc32(0, data.data(), 333);
  crc = ZipCrc32(crc, data.data() + 333, data.size() - 333);
  EXPECT_EQ(crc, expected);
  EXPECT_EQ(ZipCrc32(0, "", 0), 0u);
  EXPECT_EQ(ZipCrc32(0, "123456789", 9), 0xCBF43926u);
}

TEST(ZipArchive, DosDateTimeAndEntryNames) {
  uint16_t date = 0, time = 0;
  DosDateTime(2026, 12, 7, 15, 59, 31, date, time);
  EXPECT_EQ(date, ((2026 - 1980) << 9) | (12 << 5) | 7);
  EXPECT_EQ(time, (15 << 11) | (59 << 5) | 15);
  DosDateTime(1970, 1, 1, 0, 0, 0, date, time);  // before the DOS epoch
  EXPECT_EQ(date, (1 << 5) | 1);
  EXPECT_EQ(time, 0);
  EXPECT_EQ(ZipEntryName("C:\\temp\\screenShot.png"), "screenShot.png");
  EXPECT_EQ(ZipEntryName("/tmp/a/b.txt"), "b.txt");
  EXPECT_EQ(ZipEntryName("plain"), "plain");
}

TEST(ZipArchive, PlatformSuppliesTimeAttributesAndUtf8Names) {
  std::string file = TempPath("kx_zip_source.txt"), archive = TempPath("kx_zip_test.zip");
  { std::ofstream(file, std::ios::binary) << "hello hello hello"; }
  TZipPlatform platform;
  platform.fileInfo = [](const std::string&, TZipFileInfo& info) {
    info.dosDate = 0x5987;
    info.dosTime = 0x7BEF;
    info.attributes = 0x21;
    return true;
  };
  platform.nameToUtf8 = [](const std::string& name) { return name == "\xE4" ? std::string("\xC3\xA4") : name; };
  TZipResult r = WriteZipArchive(archive, {file, file}, {"\xE4", "plain"}, platform);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_TRUE(r.leftOut.empty());
  std::string zip = ReadAll(archive);
  auto* p = reinterpret_cast<const uint8_t*>(zip.data());
  ASSERT_GT(zip.size(), 30u);
  EXPECT_EQ(Dword(p), 0x04034b50u);
  EXPECT_EQ(Word(p + 6), 0x800) << "UTF-8 flag on the converted non-ASCII name";
  EXPECT_EQ(Word(p + 10), 0x7BEF);
  EXPECT_EQ(Word(p + 12), 0x5987);
  EXPECT_EQ(Word(p + 26), 2);
  EXPECT_EQ(zip.substr(30, 2), "\xC3\xA4");
  size_t central = zip.find("PK\x01\x02");
  ASSERT_NE(central, std::string::npos);
  EXPECT_EQ(Dword(p + central + 38), 0x21u) << "attributes in the central entry";
  size_t second = zip.find("PK\x03\x04", 4);
  ASSERT_NE(second, std::string::npos);
  EXPECT_EQ(Word(p + second + 6), 0) << "no flag for an ASCII name";
  size_t end = zip.size() - 22;
  EXPECT_EQ(Dword(p + end), 0x06054b50u);
  EXPECT_EQ(Word(p + end + 10), 2);
  EXPECT_EQ(Dword(p + end + 16), central);
  EXPECT_EQ(Dword(p + end + 12), end - central);
  remove(file.c_str());
  remove(archive.c_str());
}

}  // namespace
}  // namespace kestrix
