// The TD32 reader on data these tests write in that format: names, modules,
// source modules and symbol records; where the module's map finds it (its
// loaded image, a ".tds" file beside it, its own file) and in which order;
// damaged data.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <vector>

#include "debuginfo/readers/module_map.h"
#include "debuginfo/readers/td32_reader.h"

namespace kestrix {
namespace {

constexpr uint32_t kHandle = 0x400000, kBase = 0x401000, kData = 0x403000;

void Put16(std::string& out, uint32_t v) { out.append({static_cast<char>(v), static_cast<char>(v >> 8)}); }
void Put32(std::string& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out += static_cast<char>(v >> (8 * i));
}
void Set32(std::string& out, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) out[at + i] = static_cast<char>(v >> (8 * i));
}

// Writes TD32 data: subsections in the order added, their entries split
// over `directories` chained directories.
class TTd32Writer {
 public:
  uint32_t Name(const std::string& name) {
    names_.push_back(name);
    return static_cast<uint32_t>(names_.size());
  }
  struct TSeg {
    uint16_t segment;
    uint32_t offset, size;
  };
  void Module(const std::string& name, const std::vector<TSeg>& segments) {
    std::string s;
    Put16(s, 0);
    Put16(s, 0);
    Put16(s, static_cast<uint32_t>(segments.size()));
    Put16(s, 0);
    Put32(s, Name(name));
    s.resize(28, '\0');
    for (const TSeg& g : segments) {
      Put16(s, 0);
      Put16(s, g.segment);
      Put32(s, g.offset);
      Put32(s, g.size);
    }
    Add(kTd32Modules, s);
  }
  struct TBlock {
    uint16_t segment;
    std::vector<std::pair<uint32_t, uint16_t>> pairs;  // offset, line
  };
  // One source module holding one file.
  void Source(const std::string& name, const std::vector<TBlock>& blocks) {
    std::string s;
    Put16(s, 1);
    Put16(s, 0);
    Put32(s, 8);  // the file entry
    Put16(s, static_cast<uint32_t>(blocks.size()));
    Put32(s, name.empty() ? 0 : Name(name));
    uint32_t at = static_cast<uint32_t>(s.size() + 4 * blocks.size());
    std::string body;
    for (const TBlock& b : blocks) {
      Put32(s, at + static_cast<uint32_t>(body.size()));
      Put16(body, b.segment);
      Put16(body, static_cast<uint32_t>(b.pairs.size()));
      for (auto& p : b.pairs) Put32(body, p.first);
      for (auto& p : b.pairs) Put16(body, p.second);
    }
    Add(kTd32SourceModules, s + body);
  }
  // Symbol records, with the field layouts of the record types.
  static std::string Procedure(uint32_t offset, uint32_t name, uint16_t type = 0x205) {
    std::string r(46, '\0');
    Set16(r, 0, 44);
    Set16(r, 2, type);
    Set32(r, 28, offset);
    Set32(r, 40, name);
    return r;
  }
  static std::string Data(uint32_t offset, uint32_t name, uint16_t type = 0x202) {
    std::string r(22, '\0');
    Set16(r, 0, 20);
    Set16(r, 2, type);
    Set32(r, 4, offset);
    Set32(r, 16, name);
    return r;
  }
  static std::string PublicSymbol(bool code, uint32_t offset, uint32_t name) {
    std::string r(code ? 28 : 26, '\0');
    Set16(r, 0, code ? 26 : 24);
    Set16(r, 2, code ? 0x20 : 0x21);
    Set32(r, 12, name);
    Set32(r, 20, offset);
    return r;
  }
  void Globals(const std::string& records) { Add(kTd32GlobalSymbols, std::string(32, '\x5a') + records); }
  void Aligned(const std::string& records) { Add(kTd32AlignedSymbols, std::string(4, '\1') + records); }

  std::string Build(const char* signature = "FB09", int directories = 1) const {
    std::string out(signature, 4);
    Put32(out, 0);
    std::vector<uint32_t> offsets;
    std::string namesSub;
    Put32(namesSub, static_cast<uint32_t>(names_.size()));
    for (const std::string& n : names_) namesSub += static_cast<char>(n.size()) + n + '\0';
    std::vector<std::pair<uint16_t, std::string>> all = subsections_;
    all.insert(all.begin(), {kTd32Names, namesSub});
    for (auto& s : all) {
      offsets.push_back(static_cast<uint32_t>(out.size()));
      out += s.second;
    }
    const size_t perDirectory = (all.size() + directories - 1) / directories;
    size_t previousNext = 4;
    for (size_t first = 0; first < all.size(); first += perDirectory) {
      Set32(out, previousNext, static_cast<uint32_t>(out.size()));
      const size_t n = std::min(perDirectory, all.size() - first);
      Put16(out, 16);  // header size
      Put16(out, 12);  // entry size
      Put32(out, static_cast<uint32_t>(n));
      previousNext = out.size();
      Put32(out, 0);  // next directory
      Put32(out, 0);  // flags
      for (size_t i = first; i < first + n; ++i) {
        Put16(out, all[i].first);
        Put16(out, 0);
        Put32(out, offsets[i]);
        Put32(out, static_cast<uint32_t>(all[i].second.size()));
      }
    }
    return out;
  }

 private:
  static void Set16(std::string& out, size_t at, uint32_t v) {
    out[at] = static_cast<char>(v);
    out[at + 1] = static_cast<char>(v >> 8);
  }
  void Add(uint16_t type, const std::string& bytes) { subsections_.push_back({type, bytes}); }
  std::vector<std::string> names_;
  std::vector<std::pair<uint16_t, std::string>> subsections_;
};

TMapFile EmptyMap() {
  TMapFile map(false, kHandle, "C:\\app\\prog.exe");
  TModuleBounds b;
  b.baseOfCode = kBase;
  b.topOfCode = kBase + 0x1000;
  b.baseOfData = kData;
  b.topOfData = kData + 0x1000;
  map.SetBounds(b);
  return map;
}

// Unit1 (code 0..0x200, data 0..0x40) with its source file Unit1.cpp
// (lines at 0x10..0x80), System (code 0x200..0x302, then 0x302..0x322),
// procedures of Unit1 beyond its source file, a global variable.
TTd32Writer SampleWriter() {
  TTd32Writer w;
  w.Module("c:\\proj\\Unit1", {{1, 0x000, 0x200}, {2, 0x0, 0x40}, {2, 0x40, 0x10}, {3, 0x0, 0x0}});
  w.Module("System", {{1, 0x200, 0x100}, {1, 0x302, 0x20}});
  w.Source("c:\\proj\\Unit1.cpp", {{1, {{0x10, 12}, {0x20, 13}, {0x80, 20}}}, {3, {{0x900, 99}}}});
  const uint32_t click = w.Name("@Unit1@TForm1@Click$qqrv"), helper = w.Name("@Unit1@Helper$qqrv"),
                 move = w.Name("@System@Move$qqrpxvpvi"), counter = w.Name("gCounter"), hidden = w.Name("Hidden");
  w.Globals(TTd32Writer::Procedure(0x90, click) + TTd32Writer::Procedure(0x150, helper, 0x204) +
            TTd32Writer::Procedure(0x210, move) + TTd32Writer::Data(0x8, counter) +
            TTd32Writer::Procedure(0x160, 0) /* no name */);
  w.Aligned(TTd32Writer::PublicSymbol(true, 0x170, hidden));
  return w;
}

TTd32Result Parse(const std::string& data, TMapFile& map, std::string& error) {
  return ParseTd32Data(reinterpret_cast<const uint8_t*>(data.data()), data.size(), map, error);
}

TEST(Td32Data, ModulesSourcesAndGlobalSymbols) {
  for (int directories : {1, 3}) {
    SCOPED_TRACE(directories);
    TMapFile map = EmptyMap();
    std::string error;
    ASSERT_EQ(Parse(SampleWriter().Build("FB09", directories), map, error), TTd32Result::kLoaded) << error;
    map.Valid = true;
    // Unit1's range is cut where its source file begins (gaps closed where
    // ranges touch); the procedures beyond the file form a range of Unit1
    // of their own; System's two pieces are one range.
    EXPECT_EQ(map.SegmentAt(true, kBase + 0x8).UnitName, "Unit1");
    EXPECT_EQ(map.SegmentAt(true, kBase + 0x10).UnitName, "Unit1.cpp");
    EXPECT_EQ(map.SegmentAt(true, kBase + 0x8f).UnitName, "Unit1.cpp");
    EXPECT_EQ(map.SegmentAt(true, kBase + 0x90).UnitName, "Unit1");
    EXPECT_EQ(map.SegmentAt(true, kBase + 0x1ff).UnitName, "Unit1");
    const TMfSegment system = map.SegmentAt(true, kBase + 0x300);
    EXPECT_EQ(system.UnitName, "System");
    EXPECT_EQ(system.StartAddr, kBase + 0x200);
    EXPECT_EQ(system.Length, 0x122u);
    // Only the module's first data range.
    EXPECT_EQ(map.SegmentAt(false, kData + 0x20).UnitName, "Unit1");
    EXPECT_EQ(map.SegmentAt(false, kData + 0x44).IsValid, 0);
    // Publics demangled; the unit prefix goes, the record without a name
    // adds nothing; aligned symbols are not read when globals exist.
    EXPECT_EQ(map.PublicAt(kBase + 0x95).Name, "TForm1.Click");
    EXPECT_EQ(map.PublicAt(kBase + 0x150).Name, "Helper");
    EXPECT_EQ(map.PublicAt(kBase + 0x170).Name, "Helper");
    EXPECT_EQ(map.PublicAt(kBase + 0x210).Name, "Move");
    ASSERT_EQ(map.Publics().size(), 4u);
    EXPECT_EQ(map.Publics().back().Name, "gCounter");
    EXPECT_EQ(map.Publics().back().Address, kData + 0x8);
    EXPECT_EQ(map.Publics().back().IsCode, 0);
    // Lines of segment 1 only, at the base of code.
    ASSERT_EQ(map.Lines().size(), 3u);
    uint32_t next = 0;
    EXPECT_EQ(map.LineAt(kBase + 0x25, next), 13);
    EXPECT_EQ(next, kBase + 0x80);
    EXPECT_EQ(map.LineAt(kBase + 0x85, next), 20);
  }
}

// A record running past the subsection's end ends the walk.
TEST(Td32Data, AlignedSymbolsWithoutGlobalsAndCodeOnlyMaps) {
  TTd32Writer w;
  w.Module("Unit2", {{1, 0x0, 0x100}, {2, 0x10, 0x10}});
  const uint32_t run = w.Name("Run"), table = w.Name("Table"), proc = w.Name("Proc");
  std::string runsPast = TTd32Writer::Procedure(0x80, run);
  runsPast[0] = static_cast<char>(0xf0);
  w.Aligned(TTd32Writer::PublicSymbol(true, 0x40, run) + TTd32Writer::PublicSymbol(false, 0x18, table) +
            TTd32Writer::Procedure(0x60, proc, 0x204) + runsPast + TTd32Writer::Procedure(0x90, proc));
  for (bool codeOnly : {false, true}) {
    TMapFile map = EmptyMap();
    map.CodeOnly = codeOnly;
    std::string error;
    ASSERT_EQ(Parse(w.Build("FB0A"), map, error), TTd32Result::kLoaded) << error;
    map.Valid = true;
    EXPECT_EQ(map.PublicAt(kBase + 0x41).Name, "Run");
    EXPECT_EQ(map.PublicAt(kBase + 0x61).Name, "Proc");
    EXPECT_EQ(map.Publics().size(), codeOnly ? 2u : 3u);
    EXPECT_EQ(map.SegmentAt(false, kData + 0x18).IsValid, codeOnly ? 0 : 1);
  }
}

// Data whose structure points outside itself: no map, the map untouched,
// a text that says what is wrong.
TEST(Td32Data, DamagedDataGivesNoMapAndSaysWhy) {
  const std::string good = SampleWriter().Build();
  const uint32_t directory = static_cast<uint32_t>(good[4] & 0xff) | (good[5] & 0xff) << 8;
  struct TCase {
    const char* what;
    std::string data;
    const char* says;
  };
  std::vector<TCase> cases;
  auto with = [&](size_t at, uint32_t v) {
    std::string d = good;
    Set32(d, at, v);
    return d;
  };
  cases.push_back({"directory outside", with(4, 0x7ffffff0), "outside the data"});
  cases.push_back({"directory loop", with(directory + 4 /* count */ + 4 /* next */, directory), "loop"});
  cases.push_back({"entry size", with(directory, 16 | 8 << 16), "shorter than 12"});
  cases.push_back({"entry count", with(directory + 4, 5000), "runs past the data"});
  cases.push_back({"subsection size", with(directory + 16 + 12 * 1 + 8, 0x100000), "subsection lies outside"});
  cases.push_back({"name count", with(8, 9999), "name table"});
  cases.push_back({"truncated", good.substr(0, good.size() - 3), "runs past the data"});
  // A module record that claims more segments than it holds.
  std::string module = good;
  // Unit1's record: 4 segments, name 1.
  const size_t moduleAt = good.find(std::string("\0\0\0\0\x04\0\0\0\x01\0\0\0", 12));
  ASSERT_NE(moduleAt, std::string::npos);
  module[moduleAt + 4] = 50;
  cases.push_back({"module segments", module, "module record"});
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.what);
    TMapFile map = EmptyMap();
    map.AddSegment(true, true, 0, "Before", 4);
    std::string error;
    EXPECT_EQ(Parse(c.data, map, error), TTd32Result::kInvalid);
    EXPECT_EQ(error.rfind("TD32 information: ", 0), 0u) << error;
    EXPECT_NE(error.find(c.says), std::string::npos) << error;
    EXPECT_EQ(map.Segments().size(), 1u);
    EXPECT_TRUE(map.Publics().empty());
  }
  TMapFile map = EmptyMap();
  std::string error;
  EXPECT_EQ(Parse("FB08" + good.substr(4), map, error), TTd32Result::kNotTd32);
  EXPECT_EQ(Parse("FB0", map, error), TTd32Result::kNotTd32);
  // Every cut of the data reads nothing outside it (checked by the sanitizers).
  for (size_t n = 0; n < good.size(); ++n) {
    TMapFile cut = EmptyMap();
    Parse(good.substr(0, n), cut, error);
  }
}

// --- Where a module's TD32 information is found ---

// A module's files in memory; days of last write per file.
class TFakeModule : public TModuleSource {
 public:
  std::string image;
  bool loaded = false;
  std::map<std::string, std::string> files;
  std::map<std::string, int64_t> days;
  TPeView Image() override { return {reinterpret_cast<const uint8_t*>(image.data()), image.size(), loaded}; }
  uint32_t Handle() override { return kHandle; }
  bool ReadWholeFile(const std::string& path, std::string& bytes) override {
    auto it = files.find(path);
    if (it == files.end()) return false;
    bytes = it->second;
    return true;
  }
  bool FileDay(const std::string& path, int64_t& day) override {
    if (!files.count(path)) return false;
    day = days.count(path) ? days[path] : 100;
    return true;
  }
};

// A PE32 image (headers at 0, one code section at RVA 0x1000, optionally a
// second code section and a last section holding the debug directory).
// `fileLayout`: sections at their raw offsets, else at their RVAs.
std::string PeImage(bool fileLayout, bool twoCode, const std::string& td32) {
  const int sections = twoCode ? 3 : 2;
  std::string pe(0x400, '\0');
  pe[0] = 'M';
  pe[1] = 'Z';
  Set32(pe, 0x3c, 0x80);
  std::memcpy(&pe[0x80], "PE\0\0", 4);
  pe[0x84] = 0x4c;
  pe[0x85] = 0x01;
  pe[0x86] = static_cast<char>(sections);
  pe[0x94] = static_cast<char>(0xe0);  // optional header size
  const size_t opt = 0x98;
  pe[opt] = 0x0b;
  pe[opt + 1] = 0x01;
  Set32(pe, opt + 4, 0x1000);        // size of code
  Set32(pe, opt + 20, 0x1000);       // base of code
  Set32(pe, opt + 24, 0x3000);       // base of data
  Set32(pe, opt + 28, kHandle);      // image base
  Set32(pe, opt + 56, 0x5000);       // size of image
  Set32(pe, opt + 92, 16);           // directories
  Set32(pe, opt + 96 + 6 * 8, 0x4000);  // debug directory
  Set32(pe, opt + 96 + 6 * 8 + 4, 28);
  const size_t table = opt + 0xe0;
  auto section = [&](int i, const char* name, uint32_t va, uint32_t raw, uint32_t flags) {
    const size_t s = table + 40 * i;
    std::memcpy(&pe[s], name, std::strlen(name));
    Set32(pe, s + 8, 0x1000);
    Set32(pe, s + 12, va);
    Set32(pe, s + 16, 0x200);
    Set32(pe, s + 20, raw);
    Set32(pe, s + 36, flags);
  };
  section(0, ".text", 0x1000, 0x400, 0x60000020);
  if (twoCode) section(1, ".itext", 0x2000, 0x600, 0x60000020);
  section(sections - 1, ".debug", 0x4000, 0x800, 0x42000040);
  // The debug directory entry: size (+16), address in memory (+20), file offset (+24).
  std::string entry(28, '\0');
  Set32(entry, 16, static_cast<uint32_t>(td32.size()));
  Set32(entry, 20, 0x4100);
  Set32(entry, 24, 0xa00);
  if (fileLayout) {
    pe.resize(0x800, '\0');
    pe += entry;
    pe.resize(0xa00, '\0');
  } else {
    pe.resize(0x4000, '\0');
    pe += entry;
    pe.resize(0x4100, '\0');
  }
  return pe + td32;
}

const char* const kExe = "C:\\app\\prog.exe";
const char* const kTds = "C:\\app\\prog.tds";
const char* const kMapText = "C:\\app\\prog.map";

std::string TextMapNaming(const std::string& unit) {
  return "Detailed map of segments\r\n\r\n"
         " 0001:00000000 00000100 C=CODE     S=.text    G=(none)   M=" + unit + "             ACBP=A9\r\n\r\n";
}

TMapFile Build(TFakeModule& module, std::string& error) {
  TMapFile map(false, kHandle, kExe);
  BuildModuleMap(map, module, error);
  return map;
}

TEST(Td32Sources, TdsFileBesideTheModuleComesBeforeTheTextMap) {
  TFakeModule m;
  m.image = PeImage(true, false, "");
  m.files[kExe] = m.image;
  m.files[kTds] = SampleWriter().Build();
  m.files[kMapText] = TextMapNaming("FromTextMap");
  std::string error;
  TMapFile map = Build(m, error);
  ASSERT_TRUE(map.Valid) << error;
  EXPECT_EQ(map.SegmentAt(true, kBase + 0x300).UnitName, "System");
  // Written on the same day as the text map: still current.
  m.days[kTds] = 100;
  m.days[kMapText] = 100;
  EXPECT_EQ(Build(m, error).SegmentAt(true, kBase + 0x300).UnitName, "System");
  // Written a day before the text map: outdated, the text map is read.
  m.days[kTds] = 99;
  EXPECT_TRUE(IsTdsOutdated(m, kTds));
  map = Build(m, error);
  ASSERT_TRUE(map.Valid);
  EXPECT_EQ(map.SegmentAt(true, kBase + 0x10).UnitName, "FromTextMap");
  m.files.erase(kMapText);
  EXPECT_FALSE(IsTdsOutdated(m, kTds));
}

TEST(Td32Sources, InsideTheModuleFileAndTheLoadedImage) {
  const std::string td32 = SampleWriter().Build();
  // The module file: TD32 where the debug directory in the last section points.
  TFakeModule file;
  file.image = PeImage(true, false, td32);
  file.files[kExe] = file.image;
  std::string error;
  TMapFile map = Build(file, error);
  ASSERT_TRUE(map.Valid) << error;
  EXPECT_EQ(map.PublicAt(kBase + 0x95).Name, "TForm1.Click");
  // The loaded image: TD32 at the debug directory entry's address in memory;
  // the file is not needed.
  TFakeModule loaded;
  loaded.image = PeImage(false, false, td32);
  loaded.loaded = true;
  map = Build(loaded, error);
  ASSERT_TRUE(map.Valid) << error;
  EXPECT_EQ(map.PublicAt(kBase + 0x95).Name, "TForm1.Click");
  // A debug directory that is not at the start of the last section.
  std::string moved = file.image;
  Set32(moved, 0x98 + 96 + 6 * 8, 0x4010);
  file.image = file.files[kExe] = moved;
  EXPECT_FALSE(Build(file, error).Valid);
}

TEST(Td32Sources, ImagesWithTwoCodeSectionsHaveNone) {
  TFakeModule m;
  m.image = PeImage(true, true, SampleWriter().Build());
  m.files[kExe] = m.image;
  std::string error;
  EXPECT_FALSE(Build(m, error).Valid);
  m.files[kMapText] = TextMapNaming("FromTextMap");
  TMapFile map = Build(m, error);
  ASSERT_TRUE(map.Valid);
  EXPECT_EQ(map.SegmentAt(true, kBase + 0x10).UnitName, "FromTextMap");
}

TEST(Td32Sources, DamagedTdsFileGivesNoMapAndAnError) {
  TFakeModule m;
  m.image = PeImage(true, false, "");
  m.files[kExe] = m.image;
  m.files[kTds] = "not TD32 at all";
  std::string error;
  EXPECT_FALSE(Build(m, error).Valid);
  EXPECT_EQ(error, "TD32 information: no FB09 or FB0A signature");
  std::string bad = SampleWriter().Build();
  Set32(bad, 4, 0xfffffff0);
  m.files[kTds] = bad;
  error.clear();
  EXPECT_FALSE(Build(m, error).Valid);
  EXPECT_EQ(error, "TD32 information: a subsection directory lies outside the data");
  // A module file without TD32 is no error: it just has none.
  m.files.erase(kTds);
  error.clear();
  EXPECT_FALSE(Build(m, error).Valid);
  EXPECT_EQ(error, "");
}

}  // namespace
}  // namespace kestrix
