// Portable readers and writers of binary data: the COFF function symbols of
// a PE file, the restart block.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <vector>

#include "crash/report/coff_symbols.h"
#include "crash/report/exception_history.h"

namespace kestrix {
namespace {

void Put16(std::vector<uint8_t>& b, size_t at, uint16_t v) { b[at] = v & 0xff, b[at + 1] = v >> 8; }
void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// A PE file as the linker writes it: DOS header, file header, a 224-byte
// optional header, two sections (.text at 0x1000, .data at 0x3000), then a
// symbol table with its string table.
struct TPeBuilder {
  struct TSym {
    std::string name;
    uint32_t value;
    int16_t section;
    uint16_t type;
    uint8_t storage;
    std::string fileAux;  // for a .file symbol: the source name in aux records
  };
  std::vector<TSym> symbols;

  std::vector<uint8_t> Build() const {
    const size_t pe = 0x80, sections = pe + 24 + 224, table = sections + 2 * 40;
    std::vector<uint8_t> b(table);
    b[0] = 'M', b[1] = 'Z';
    Put32(b, 0x3C, pe);
    std::memcpy(&b[pe], "PE\0\0", 4);
    Put16(b, pe + 4, 0x14c);
    Put16(b, pe + 6, 2);
    Put16(b, pe + 20, 224);
    std::memcpy(&b[sections], ".text", 5);
    Put32(b, sections + 12, 0x1000);
    std::memcpy(&b[sections + 40], ".data", 5);
    Put32(b, sections + 40 + 12, 0x3000);
    std::string strings;
    uint32_t count = 0;
    std::vector<uint8_t> records;
    for (const TSym& s : symbols) {
      std::vector<uint8_t> r(18);
      if (s.name.size() <= 8) {
        std::memcpy(r.data(), s.name.data(), s.name.size());
      } else {
        Put32(r, 4, 4 + static_cast<uint32_t>(strings.size()));
        strings += s.name + '\0';
      }
      Put32(r, 8, s.value);
      Put16(r, 12, static_cast<uint16_t>(s.section));
      Put16(r, 14, s.type);
      r[16] = s.storage;
      const size_t aux = (s.fileAux.size() + 17) / 18;
      r[17] = static_cast<uint8_t>(aux);
      records.insert(records.end(), r.begin(), r.end());
      std::vector<uint8_t> a(aux * 18);
      if (!s.fileAux.empty()) std::memcpy(a.data(), s.fileAux.data(), s.fileAux.size());
      records.insert(records.end(), a.begin(), a.end());
      count += 1 + static_cast<uint32_t>(aux);
    }
    Put32(b, pe + 12, static_cast<uint32_t>(table));
    Put32(b, pe + 16, count);
    b.insert(b.end(), records.begin(), records.end());
    std::vector<uint8_t> size(4);
    Put32(size, 0, 4 + static_cast<uint32_t>(strings.size()));
    b.insert(b.end(), size.begin(), size.end());
    b.insert(b.end(), strings.begin(), strings.end());
    return b;
  }
};

TPeBuilder SampleProgram() {
  TPeBuilder pe;
  pe.symbols = {
      {".file", 0, -2, 0, 103, "C:\\src\\lab\\crashlab.cpp"},
      {"_main", 0x10, 1, 0x20, 2, ""},
      {"__ZN12_GLOBAL__N_113ReadViolationEv", 0x40, 1, 0x20, 3, ""},  // (anonymous namespace)::ReadViolation()
      {"_counter", 0x8, 2, 0x00, 3, ""},                              // data, not a function
      {".file", 0, -2, 0, 103, "worker.c"},
      {"_ThreadProc@4", 0x80, 1, 0x20, 2, ""},
      {"__ZN7kestrix4TMap6LookupIiEEbRKT_", 0x90, 1, 0x20, 2, ""},  // bool kestrix::TMap::Lookup<int>(int const&)
      {"_absolute", 0x1234, -1, 0x20, 2, ""},                        // no section
  };
  return pe;
}

TEST(CoffSymbols, FunctionsWithUnitsAndDisplayNames) {
  const std::vector<uint8_t> file = SampleProgram().Build();
  const std::vector<TCoffFunction> f = ReadCoffFunctions(file.data(), file.size());
  ASSERT_EQ(f.size(), 4u);
  EXPECT_EQ(f[0].rva, 0x1010u);
  EXPECT_EQ(f[0].name, "main");
  EXPECT_EQ(f[0].unit, "crashlab");
  EXPECT_EQ(f[1].rva, 0x1040u);
  EXPECT_EQ(f[1].name, "ReadViolation");
  EXPECT_EQ(f[2].name, "ThreadProc");
  EXPECT_EQ(f[2].unit, "worker");
  EXPECT_EQ(f[3].name, "kestrix.TMap.Lookup<int>");
}

TEST(CoffSymbols, DamagedFilesGiveWhatCanBeRead) {
  const std::vector<uint8_t> file = SampleProgram().Build();
  // Every cut: no read beyond the end (the sanitizers watch), never more
  // functions than the whole file has.
  for (size_t n = 0; n <= file.size(); ++n) {
    std::vector<uint8_t> cut(file.begin(), file.begin() + n);
    EXPECT_LE(ReadCoffFunctions(cut.data(), cut.size()).size(), 4u) << n;
  }
  // A .file symbol claiming more aux records than the table has left.
  TPeBuilder pe;
  pe.symbols = {{"_f", 0, 1, 0x20, 2, ""}, {".file", 0, -2, 0, 103, "x.cpp"}};
  std::vector<uint8_t> bad = pe.Build();
  const size_t lastSymbol = bad.size() - 4 - 2 * 18;  // the .file record
  bad[lastSymbol + 17] = 200;
  EXPECT_EQ(ReadCoffFunctions(bad.data(), bad.size()).size(), 1u);
  // A long name whose offset lies outside the string table.
  pe.symbols = {{"a_name_longer_than_eight", 0, 1, 0x20, 2, ""}};
  bad = pe.Build();
  Put32(bad, bad.size() - 4 - 25 - 18 + 4, 0x7fffffff);
  const auto f = ReadCoffFunctions(bad.data(), bad.size());
  ASSERT_EQ(f.size(), 1u);
  EXPECT_EQ(f[0].name, "");
  EXPECT_TRUE(ReadCoffFunctions(nullptr, 0).empty());
}

TEST(CoffSymbols, UnitNames) {
  EXPECT_EQ(UnitNameOfFile("/home/x/unit.name.cpp"), "unit.name");
  EXPECT_EQ(UnitNameOfFile("C:\\src\\plain"), "plain");
}

TEST(RestartBlock, WordsInTheirPlaces) {
  TRestartBlock block;
  block.oldProcessId = 0x1234;
  block.mappingHandle = 0xabcd;
  for (size_t i = 0; i < block.ring.size(); ++i) block.ring[i] = 0x0000000d00000000ull * (i + 1) + i;
  uint8_t bytes[kRestartBlockSize];
  static_assert(kRestartBlockSize == 88, "the block is 88 bytes");
  WriteRestartBlock(block, bytes);
  EXPECT_EQ(bytes[0], 0x34);
  EXPECT_EQ(bytes[1], 0x12);
  EXPECT_EQ(bytes[4], 0xcd);
  EXPECT_EQ(bytes[8 + 8 * 9], 9) << "the last ring entry's low word";
  EXPECT_EQ(bytes[8 + 8 * 9 + 4], 0x0d * 10) << "and its high word";
  const TRestartBlock back = ReadRestartBlock(bytes);
  EXPECT_EQ(back.oldProcessId, block.oldProcessId);
  EXPECT_EQ(back.mappingHandle, block.mappingHandle);
  EXPECT_EQ(back.ring, block.ring);
}

}  // namespace
}  // namespace kestrix
