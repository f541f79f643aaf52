// The readers of other toolchains' debug files, on files these tests write
// in those formats: the linker text map and JDBG.
#include <gtest/gtest.h>

#include <cstring>

#include "debuginfo/readers/jdbg_reader.h"
#include "debuginfo/readers/text_map_reader.h"

namespace kestrix {
namespace {

constexpr uint32_t kBase = 0x401000, kData = 0x500000;

TMapFile EmptyMap() {
  TMapFile map(false, 0x400000, "C:\\app\\prog.exe");
  TModuleBounds b;
  b.baseOfCode = kBase;
  b.topOfCode = kBase + 0x2000;
  b.baseOfData = kData;
  map.SetBounds(b);
  return map;
}

std::string Pad(std::string line, size_t width) {
  // Blanks before the last word until the line is `width` long.
  const size_t blank = line.rfind(' ');
  if (line.size() < width) line.insert(blank, width - line.size(), ' ');
  return line;
}

std::string SampleTextMap(const char* dataLine) {
  std::string t;
  t += " Start         Length     Name                   Class\r\n";
  t += " 0001:00401000 00001234H .text                   CODE\r\n";
  t += std::string(" ") + dataLine + "\r\n\r\n";
  t += "Detailed map of segments\r\n\r\n";
  t += Pad(" 0001:00000000 00000800 C=CODE     S=.text    G=(none)   M=System   ACBP=A9", 80) + "\r\n";
  t += Pad(" 0001:00000800 00000A34 C=CODE     S=.text    G=(none)   M=Unit1    ACBP=A9", 80) + "\r\n";
  t += Pad(" 0002:00000000 00000100 C=DATA     S=.data    G=DGROUP   M=Unit1    ACBP=A9", 80) + "\r\n";
  t += " 0002:00000000 short line\r\n\r\n";
  t += "  Address         Publics by Value\r\n\r\n";
  t += " 0001:00000010       System.Move\r\n";
  t += " 0001:00000810       Unit1.TForm1.Click (with a remark)\r\n";
  t += " 0002:00000004       Unit1.gCount\r\n";
  t += " 000X:00000004       Bad.Segment\r\n\r\n";
  t += "Line numbers for Unit1(Unit1.pas) segment .text\r\n\r\n";
  t += "    10 0001:00000810    11 0001:00000818    12 0001:00000818    13 0001:0000081Z    14 0001:00000820\r\n\r\n";
  t += "Program entry point at 0001:00000900\r\n";
  return t;
}

TEST(TextMap, SegmentsPublicsLinesAndEntry) {
  TMapFile map = EmptyMap();
  ParseTextMap(SampleTextMap("0002:00403000 00000100H .data                   DATA"), map);
  map.Valid = true;
  ASSERT_EQ(map.Segments().size(), 3u);
  EXPECT_EQ(map.SegmentAt(true, kBase + 0x10).UnitName, "System");
  EXPECT_EQ(map.SegmentAt(true, kBase + 0x900).UnitName, "Unit1");
  EXPECT_EQ(map.SegmentAt(true, kBase + 0x900).Length, 0xa34u);
  EXPECT_EQ(map.SegmentAt(false, kData + 4).UnitName, "Unit1");
  // Data segment number 2: publics keep their unit prefix.
  EXPECT_EQ(map.PublicAt(kBase + 0x12).Name, "System.Move");
  EXPECT_EQ(map.PublicAt(kBase + 0x812).Name, "Unit1.TForm1.Click");
  ASSERT_EQ(map.Publics().size(), 3u);
  // 12 at the same address is dropped; the malformed pair ends the line.
  ASSERT_EQ(map.Lines().size(), 2u);
  EXPECT_EQ(map.Lines()[0].Line, 10);
  EXPECT_EQ(map.Lines()[1].Address, kBase + 0x818);
  EXPECT_EQ(map.EntryPoint, kBase + 0x900);
}

TEST(TextMap, DataSegmentAboveTwoShiftsByRoundedCodeSize) {
  TMapFile map = EmptyMap();
  std::string t = SampleTextMap("0003:00405000 00000100H .data                   DATA");
  // Segment 2 now lies between code and data: it gets the code size 0x1234 rounded to 0x2000.
  t += "Detailed map of segments\r\n\r\n";
  t += Pad(" 0002:00000000 00000100 C=ICODE    S=.itext   G=(none)   M=Init     ACBP=A9", 80) + "\r\n\r\n";
  t += "  Address         Publics by Value\r\n\r\n";
  t += " 0002:00000010       Init.Start\r\n\r\n";
  map.TopOfCode = kBase + 0x3000;
  ParseTextMap(t, map);
  map.Valid = true;
  EXPECT_EQ(map.SegmentAt(true, kBase + 0x2000).UnitName, "Init");
  // The unit prefix is removed when the data segment number exceeds 2.
  EXPECT_EQ(map.PublicAt(kBase + 0x2010).Name, "Start");
  EXPECT_EQ(map.PublicAt(kBase + 0x812).Name, "TForm1.Click");
}

TEST(TextMap, GarbageIsHarmless) {
  TMapFile map = EmptyMap();
  ParseTextMap("Detailed map of segments\r\n\r\n::::::::\r\nLine numbers for x(y)\r\n 1 :\r\n\0\xff", map);
  ParseTextMap("", map);
  EXPECT_TRUE(map.Segments().empty());
}

// --- JDBG ---

void Number(std::string& out, uint32_t v) {
  do {
    uint8_t b = v & 0x7f;
    v >>= 7;
    if (v) b |= 0x80;
    out += static_cast<char>(b);
  } while (v);
}

// A name in 6-bit codes ("@" prefix with a leading byte 2).
std::string Packed(const std::string& name) {
  static const std::string kCodes = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz_";
  std::string out;
  std::string text = name;
  if (!text.empty() && text[0] == '@') {
    out += '\2';
    text.erase(0, 1);
  }
  std::vector<uint8_t> codes;
  for (char c : text) codes.push_back(static_cast<uint8_t>(kCodes.find(c) + 1));
  codes.push_back(0);
  while (codes.size() % 4) codes.push_back(0);
  for (size_t i = 0; i < codes.size(); i += 4) {
    out += static_cast<char>(codes[i] | codes[i + 1] << 6);
    out += static_cast<char>(codes[i + 1] >> 2 | codes[i + 2] << 4);
    out += static_cast<char>(codes[i + 2] >> 4 | codes[i + 3] << 2);
  }
  return out;
}

std::string Scrambled(const std::string& name) {
  std::string out = "\1";
  for (char c : name) out += static_cast<char>(static_cast<uint8_t>(c) ^ kJdbgScramble);
  return out + '\0';
}

struct TJdbgFile {
  std::string bytes;
  uint32_t words = 0;
};

// Units "Unit1" at 0 and "C:\src\Unit2.pas" at 0x100; publics Unit1.TForm1.Click
// (unit prefix removed), @Proc; lines 5 and 6.
std::string SampleJdbg(bool validChecksum) {
  std::string words;
  auto add = [&](const std::string& encoded) {
    const uint32_t index = static_cast<uint32_t>(words.size()) + 1;
    words += encoded;
    return index;
  };
  const uint32_t unit1 = add(Packed("Unit1")), unit2 = add(Scrambled("C:\\src\\Unit2.pas")),
                 form = add(Packed("Unit1")), click = add(Scrambled("TForm1.Click")), proc = add(Packed("@Proc"));
  std::string units, symbols, lines;
  Number(units, 0);
  Number(units, unit1);
  Number(units, 0x100);
  Number(units, unit2 - unit1);
  Number(units, kJdbgTableEnd);
  Number(symbols, 0x10);
  Number(symbols, form);
  Number(symbols, click);
  Number(symbols, 0x100);
  Number(symbols, proc - form);
  Number(symbols, static_cast<uint32_t>(-static_cast<int32_t>(click)));  // second index back to 0
  Number(symbols, kJdbgTableEnd);
  Number(lines, 0x10);
  Number(lines, 5);
  Number(lines, 8);
  Number(lines, 1);
  Number(lines, kJdbgTableEnd);
  std::string file = "JDBG";
  file += '\1';
  auto dword = [&](uint32_t v) { file.append(reinterpret_cast<const char*>(&v), 4); };
  const uint32_t header = 36;
  dword(header);                                                      // units
  dword(header + static_cast<uint32_t>(units.size()));                // source names (unused)
  dword(header + static_cast<uint32_t>(units.size()));                // symbols
  dword(header + static_cast<uint32_t>(units.size() + symbols.size()));  // lines
  dword(header + static_cast<uint32_t>(units.size() + symbols.size() + lines.size()));  // words
  dword(0);                                                           // module name
  dword(0);                                                           // checksum
  file += static_cast<char>(validChecksum ? 1 : 0);
  file.resize(header, '\0');
  file += units + symbols + lines + words;
  while (file.size() % 4) file += '\0';
  if (validChecksum) {
    const uint32_t sum = JdbgChecksum(reinterpret_cast<const uint8_t*>(file.data()), file.size());
    std::memcpy(&file[29], &sum, 4);
  }
  return file;
}

bool ReadJdbg(const std::string& file, TMapFile& map, std::string& error) {
  return ReadJdbgData(reinterpret_cast<const uint8_t*>(file.data()), file.size(), map, error);
}

TEST(Jdbg, UnitsPublicsAndLines) {
  for (bool checksum : {true, false}) {
    TMapFile map = EmptyMap();
    std::string error;
    ASSERT_TRUE(ReadJdbg(SampleJdbg(checksum), map, error)) << error;
    map.Valid = true;
    ASSERT_EQ(map.Segments().size(), 2u);
    EXPECT_EQ(map.Segments()[0].UnitName, "Unit1");
    EXPECT_EQ(map.Segments()[0].Length, 0x100u);  // gaps closed
    EXPECT_EQ(map.Segments()[1].UnitName, "Unit2");  // path and ".pas" removed
    EXPECT_EQ(map.Segments()[1].Length, 0x2000u - 0x100u);  // up to the top of code
    EXPECT_EQ(map.PublicAt(kBase + 0x10).Name, "TForm1.Click");
    EXPECT_EQ(map.PublicAt(kBase + 0x110).Name, "@Proc");
    ASSERT_EQ(map.Lines().size(), 2u);
    EXPECT_EQ(map.Lines()[1].Line, 6);
    EXPECT_EQ(map.Lines()[1].Address, kBase + 0x18);
  }
}

TEST(Jdbg, DamagedFilesAreNoSource) {
  const std::string good = SampleJdbg(true);
  TMapFile map = EmptyMap();
  std::string error;
  std::string bad = good;
  bad[bad.size() - 1] ^= 1;  // the checksum no longer matches
  EXPECT_FALSE(ReadJdbg(bad, map, error));
  EXPECT_NE(error.find("checksum"), std::string::npos);
  EXPECT_FALSE(ReadJdbg(good.substr(0, good.size() - 1), map, error));  // size not a multiple of 4
  EXPECT_FALSE(ReadJdbg(good.substr(0, 32), map, error));
  bad = good;
  bad[4] = 2;  // version
  EXPECT_FALSE(ReadJdbg(bad, map, error));
  // Offsets pointing outside the file read nothing.
  bad = SampleJdbg(false);
  uint32_t far = 0x7ffffff0;
  for (int field = 0; field < 5; ++field) std::memcpy(&bad[5 + 4 * field], &far, 4);
  TMapFile empty = EmptyMap();
  EXPECT_TRUE(ReadJdbg(bad, empty, error));
  EXPECT_TRUE(empty.Publics().empty());
}

TEST(Jdbg, NamesAndNumbers) {
  const std::string packed = Packed("@Abc_9z");
  EXPECT_EQ(UnpackJdbgName(reinterpret_cast<const uint8_t*>(packed.data()), packed.size(), 0, 1), "@Abc_9z");
  EXPECT_EQ(UnpackJdbgName(reinterpret_cast<const uint8_t*>(packed.data()), packed.size(), 0, 0), "");
  EXPECT_EQ(UnpackJdbgName(reinterpret_cast<const uint8_t*>(packed.data()), packed.size(), 0, 99), "");
  std::string raw;
  Number(raw, 300);
  Number(raw, 0xffffffff);
  size_t at = 0;
  uint32_t v;
  ASSERT_TRUE(ReadJdbgNumber(reinterpret_cast<const uint8_t*>(raw.data()), raw.size(), at, v));
  EXPECT_EQ(v, 300u);
  ASSERT_TRUE(ReadJdbgNumber(reinterpret_cast<const uint8_t*>(raw.data()), raw.size(), at, v));
  EXPECT_EQ(v, 0xffffffffu);
  EXPECT_FALSE(ReadJdbgNumber(reinterpret_cast<const uint8_t*>(raw.data()), raw.size(), at, v));
}

}  // namespace
}  // namespace kestrix
