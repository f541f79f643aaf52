// The debug-information map: compact integers and strings, the compact map
// written and read back (full and stripped), damaged maps, the tables'
// order and gap closing, the lookups' edge rules.
#include <gtest/gtest.h>

#include <cstring>

#include "debuginfo/map/compact_map.h"
#include "debuginfo/map/map_cipher.h"
#include "debuginfo/map/map_file.h"

namespace kestrix {
namespace {

constexpr uint32_t kBase = 0x401000;

TMiniStream& Fill(TMiniStream& s, const std::string& bytes) {
  s.SetSize(static_cast<int32_t>(bytes.size()));
  if (!bytes.empty()) std::memcpy(s.Memory(), bytes.data(), bytes.size());
  s.SetPosition(0);
  return s;
}

TEST(CompactValues, IntegersReadAsStored) {
  TMiniStream s;
  int32_t v = 0;
  ASSERT_TRUE(ReadCompactInt(Fill(s, "\x7f"), v));
  EXPECT_EQ(v, 127);
  ASSERT_TRUE(ReadCompactInt(Fill(s, "\x81"), v));
  EXPECT_EQ(v, -127);
  ASSERT_TRUE(ReadCompactInt(Fill(s, std::string("\x80\x78\x56\x34\x12", 5)), v));
  EXPECT_EQ(v, 0x12345678);
  EXPECT_FALSE(ReadCompactInt(Fill(s, std::string("\x80\x01\x02", 3)), v));  // 4 bytes missing
  // Every written value reads back; small ones take one byte.
  for (int32_t value : {0, 1, -1, 127, -127, 128, -128, 100000, INT32_MIN, INT32_MAX}) {
    std::string out;
    WriteCompactInt(out, value);
    EXPECT_EQ(out.size(), value >= -127 && value <= 127 ? 1u : 5u) << value;
    ASSERT_TRUE(ReadCompactInt(Fill(s, out), v));
    EXPECT_EQ(v, value);
  }
}

TEST(CompactValues, StringsAndShortData) {
  TMiniStream s;
  EXPECT_EQ(ReadCompactStr(Fill(s, "\x03" "abcd")), "abc");
  EXPECT_EQ(s.Position(), 4);
  // Fewer bytes than the length: only the length byte is consumed.
  EXPECT_EQ(ReadCompactStr(Fill(s, "\x09" "ab")), "");
  EXPECT_EQ(s.Position(), 1);
  std::string out;
  WriteCompactStr(out, std::string(300, 'x'));
  EXPECT_EQ(out.size(), 256u);  // at most 255 characters
  // The stream's rules: negative counts and positions read nothing.
  char buf[4];
  Fill(s, "abc");
  EXPECT_EQ(s.Read(buf, -1), 0);
  s.SetPosition(-2);
  EXPECT_EQ(s.Read(buf, 2), 0);
  s.SetPosition(3);
  EXPECT_LE(s.Read(buf, 2), 0);
  s.SetSize(1);
  EXPECT_EQ(s.Position(), 1);
}

TEST(MapCipher, SymmetricAndKeyed) {
  const std::string text("payload \x00\x01\xff bytes", 18);
  const std::string key = DeriveMapPassword(1234);
  const std::string c = MapCipher(text, key);
  EXPECT_NE(c, text);
  EXPECT_EQ(MapCipher(c, key), text);
  EXPECT_NE(MapCipher(text, DeriveMapPassword(1235)), c);
  EXPECT_EQ(DeriveMapPassword(1234).size(), 56u);
}

TMapContents SampleContents() {
  TMapContents c;
  c.segments = {{0x000, 0x100, "crt", false}, {0x100, 0x300, "main_window", true}, {0x400, 0x80, "util", true}};
  c.publics = {{"start", 0x000}, {"TForm1.openClick", 0x100}, {"TForm1.Paint", 0x180},
               {"far.away", 0x180 + 200000}, {"Split", 0x400}};
  c.lines = {{10, 0x100}, {11, 0x108}, {250, 0x120}, {0, 0x200}, {7, 0x400}};
  c.hasEntryPoint = true;
  c.entryPoint = 0x10;
  return c;
}

TMapFile LoadMap(const std::string& bytes, TCompactMapResult expect = TCompactMapResult::kLoaded) {
  TMapFile map(false, 0x400000, "C:\\app\\quorrin.exe");
  TModuleBounds b;
  b.baseOfCode = kBase;
  b.topOfCode = kBase + 0x100000;
  map.SetBounds(b);
  std::string error;
  EXPECT_EQ(LoadCompactMap(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), map, error), expect)
      << error;
  map.Valid = expect == TCompactMapResult::kLoaded;
  return map;
}

TEST(CompactMap, RoundTrip) {
  const std::string bytes = WriteCompactMap(SampleContents(), 0xabcdef01, false);
  TMapFile map = LoadMap(bytes);
  ASSERT_EQ(map.Segments().size(), 3u);
  EXPECT_EQ(map.Segments()[1].UnitName, "main_window");
  EXPECT_EQ(map.Segments()[1].StartAddr, kBase + 0x100);
  ASSERT_EQ(map.Publics().size(), 5u);
  EXPECT_EQ(map.Publics()[3].Address, kBase + 0x180 + 200000);  // a delta beyond one byte
  EXPECT_EQ(map.Publics()[4].Name, "Split");
  ASSERT_EQ(map.Lines().size(), 5u);
  EXPECT_EQ(map.Lines()[2].Line, 250);
  EXPECT_EQ(map.Lines()[3].Line, 0);
  EXPECT_EQ(map.EntryPoint, kBase + 0x10);
  // The payload is enciphered: no name readable in the data.
  EXPECT_EQ(bytes.find("main_window"), std::string::npos);
  EXPECT_EQ(CompactMapFingerprint(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()).size(), 31u);
}

TEST(CompactMap, StrippedMapHasGeneratedNames) {
  const std::string full = WriteCompactMap(SampleContents(), 7, false);
  const std::string stripped = WriteCompactMap(SampleContents(), 7, true);
  TCompactMapHeader a, b;
  ASSERT_TRUE(ReadCompactMapHeader(reinterpret_cast<const uint8_t*>(full.data()), full.size(), a));
  ASSERT_TRUE(ReadCompactMapHeader(reinterpret_cast<const uint8_t*>(stripped.data()), stripped.size(), b));
  EXPECT_EQ(b.flags & kCompactMapStripped, 1u);
  EXPECT_EQ(a.valueA, b.valueA);  // both carry the full map's fingerprint values
  EXPECT_EQ(a.valueB, b.valueB);
  TMapFile map = LoadMap(stripped);
  ASSERT_EQ(map.Segments().size(), 3u);
  EXPECT_EQ(map.Segments()[0].UnitName, "segment%0");
  EXPECT_EQ(map.Segments()[2].UnitName, "segment%2");
  EXPECT_EQ(map.Segments()[0].HasLines, 0);
  EXPECT_EQ(map.Segments()[1].HasLines, 1);
  EXPECT_EQ(map.Publics()[1].Name, "public%1");
  EXPECT_EQ(map.Publics()[1].Address, kBase + 0x100);
  EXPECT_TRUE(map.Lines().empty());
  uint32_t next = 0;
  EXPECT_EQ(map.LineAt(kBase + 0x110, next), -1);  // lines exist, this map lacks them
  EXPECT_EQ(map.LineAt(kBase + 0x010, next), 0);
}

TEST(CompactMap, DamagedDataGivesNoMap) {
  const std::string good = WriteCompactMap(SampleContents(), 7, false);
  EXPECT_EQ(LoadMap(good.substr(0, 22), TCompactMapResult::kNotAMap).Segments().size(), 0u);
  std::string wrongVersion = good;
  wrongVersion[18] = 4;
  LoadMap(wrongVersion, TCompactMapResult::kNotAMap);
  std::string wrongSignature = good;
  wrongSignature[0] = 'X';
  LoadMap(wrongSignature, TCompactMapResult::kNotAMap);
  LoadMap(good.substr(0, good.size() - 1), TCompactMapResult::kInvalid);  // payload past the end
  std::string flipped = good;
  flipped[40] ^= 0x55;
  LoadMap(flipped, TCompactMapResult::kInvalid);
  // A payload that inflates to tables with absurd counts.
  TMapContents huge;
  std::string bytes = WriteCompactMap(huge, 0, false);
  TMapFile empty = LoadMap(bytes);
  EXPECT_TRUE(empty.Segments().empty());
}

TMapFile LookupMap() {
  TMapFile map(false, 0x400000, "C:\\app\\quorrin.exe");
  TModuleBounds b;
  b.baseOfCode = kBase;
  b.topOfCode = kBase + 0x1000;
  b.baseOfData = 0x500000;
  map.SetBounds(b);
  map.AddSegment(true, true, 0x000, "Unit1.pas", 0x100);
  map.AddSegment(true, true, 0x100, "Unit2", 0x100);
  map.AddSegment(false, true, 0x0, "Unit1", 0x40);
  map.AddPublic(true, "Unit1", 0x0);  // named like its unit
  map.AddPublic(true, "TForm1.Click", 0x20);
  map.AddPublic(true, "helper", 0x120);
  map.AddPublic(false, "gTable", 0x10);
  map.SortPublicTable();
  map.AppendLineEntry(5, kBase + 0x20);
  map.AppendLineEntry(6, kBase + 0x28);
  map.AppendLineEntry(40, kBase + 0x0f0);  // its range runs into Unit2
  map.AppendLineEntry(9, kBase + 0x140);
  map.Valid = true;
  return map;
}

TEST(MapLookups, SegmentsAndPublics) {
  const TMapFile map = LookupMap();
  EXPECT_EQ(map.Segments()[0].UnitName, "Unit1");  // ".pas" removed
  EXPECT_EQ(map.SegmentAt(true, kBase + 0x150).UnitName, "Unit2");
  EXPECT_EQ(map.SegmentAt(true, kBase + 0x200).IsValid, 0);
  EXPECT_EQ(map.SegmentAt(false, 0x500010).UnitName, "Unit1");
  EXPECT_EQ(map.PublicAt(kBase).Name, "initialization");
  EXPECT_EQ(map.PublicAt(kBase + 0x30).Name, "TForm1.Click");
  EXPECT_EQ(map.PublicAt(kBase + 0x800).Name, "helper");  // up to the next public (a data one)
  // The last public (data, above the top of code) is not found.
  EXPECT_EQ(map.PublicAt(0x500010).IsValid, 0);
  EXPECT_EQ(map.PublicAt(kBase - 1).IsValid, 0);
  EXPECT_EQ(map.AddressOfPublic(true, "unit1", false, "tform1.click"), kBase + 0x20);
  EXPECT_EQ(map.AddressOfPublic(true, "Unit1", true, "tform1.click"), 0u);
  TMapFile invalid;
  EXPECT_EQ(invalid.PublicAt(kBase).IsValid, 0);
}

TEST(MapLookups, LastPublicEndsAtTopOfCode) {
  TMapFile map(false, 0, "m");
  TModuleBounds b;
  b.baseOfCode = kBase;
  b.topOfCode = kBase + 0x200;
  map.SetBounds(b);
  map.AddPublic(true, "last", 0x100);
  map.Valid = true;
  EXPECT_EQ(map.PublicAt(kBase + 0x1ff).Name, "last");
  EXPECT_EQ(map.PublicAt(kBase + 0x200).IsValid, 0);
  map.TopOfCode = 0;  // end unknown: unlimited
  EXPECT_EQ(map.PublicAt(kBase + 0x5000).Name, "last");
}

TEST(MapLookups, LineAtEdges) {
  const TMapFile map = LookupMap();
  uint32_t next = 0;
  EXPECT_EQ(map.LineAt(kBase + 0x10, next), 0);  // before the first entry
  EXPECT_EQ(map.LineAt(kBase + 0x20, next), 5);
  EXPECT_EQ(next, kBase + 0x28);
  EXPECT_EQ(map.LineAt(kBase + 0x27, next), 5);
  EXPECT_EQ(map.LineAt(kBase + 0x28, next), 6);
  EXPECT_EQ(map.LineAt(kBase + 0xff, next), 40);
  // The entry lies in Unit1, the address in Unit2: no line.
  EXPECT_EQ(map.LineAt(kBase + 0x100, next), 0);
  EXPECT_EQ(map.LineAt(kBase + 0x140, next), 9);
  EXPECT_EQ(next, kBase + 0x141);  // the last entry: next address stays address + 1
  EXPECT_EQ(map.LineAt(kBase + 0x1000, next), 0);  // at the top of code
}

TEST(MapTables, SortedInsertAndOrder) {
  TMapFile map;
  map.AddSegment(false, false, 0x100, "d", 0x10, true);
  map.AddSegment(true, false, 0x300, "c2", 0x10, true);
  map.AddSegment(true, false, 0x200, "short", 0x10, true);
  map.AddSegment(true, false, 0x200, "long", 0x40, true);
  map.AddSegment(true, false, 0x200, "equal", 0x40, true);
  std::vector<std::string> names;
  for (const TMfSegment& s : map.Segments()) names.push_back(s.UnitName);
  EXPECT_EQ(names, (std::vector<std::string>{"long", "equal", "short", "c2", "d"}));
  TMapFile sorted;
  sorted.AddSegment(false, false, 0x100, "d", 0x10);
  sorted.AddSegment(true, false, 0x200, "short", 0x10);
  sorted.AddSegment(true, false, 0x200, "long", 0x40);
  sorted.SortSegmentTable();
  EXPECT_EQ(sorted.Segments()[0].UnitName, "long");
  EXPECT_EQ(sorted.Segments()[2].UnitName, "d");
}

TEST(MapTables, CloseSegmentGaps) {
  TMapFile map;
  map.AddSegment(true, false, 0x100, "A", 0x10);
  map.AddSegment(true, false, 0x200, "a", 0x10);  // same unit: absorbed
  map.AddSegment(true, false, 0x300, "B", 0x10);
  map.AddSegment(true, false, 0x300, "C", 0x20);  // same start: replaces B
  map.AddSegment(false, false, 0x50, "D", 0x10);
  map.CloseSegmentGaps(false);
  ASSERT_EQ(map.Segments().size(), 3u);
  EXPECT_EQ(map.Segments()[0].Length, 0x200u);  // A absorbed a, then runs up to B's start
  EXPECT_EQ(map.Segments()[1].UnitName, "C");
  EXPECT_EQ(map.Segments()[2].UnitName, "D");
  // With touch only, a gap stays open.
  TMapFile touch;
  touch.AddSegment(true, false, 0x100, "A", 0x10);
  touch.AddSegment(true, false, 0x200, "B", 0x10);
  touch.AddSegment(true, false, 0x210, "C", 0x10);
  touch.CloseSegmentGaps(true);
  ASSERT_EQ(touch.Segments().size(), 3u);
  EXPECT_EQ(touch.Segments()[0].Length, 0x10u);
}

TEST(MapTables, AddressOfPublicTriesSourceExtensions) {
  TMapFile map;
  map.AddSegment(true, false, 0x100, "window.cpp", 0x100);
  map.AddPublic(true, "Paint", 0x110);
  map.Valid = true;
  EXPECT_EQ(map.AddressOfPublic(true, "window", true, "Paint"), 0x110u);
  EXPECT_EQ(map.AddressOfPublic(true, "window.h", true, "Paint"), 0u);
}

TEST(MapTables, TablesGrowByHalf) {
  TMapFile map;
  map.AppendLineEntry(1, 1);
  EXPECT_EQ(map.Lines().capacity(), 16u);
  for (int i = 0; i < 16; ++i) map.AppendLineEntry(i, i);
  EXPECT_EQ(map.Lines().capacity(), 24u);
}

}  // namespace
}  // namespace kestrix
