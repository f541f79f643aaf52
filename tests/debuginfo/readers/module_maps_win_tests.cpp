// The maps of loaded modules under Windows: a library the tests load from a
// folder of their own, with its debug information written beside it; the
// cache keeps a map until the library's file is touched; procedure names
// at entry addresses.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <utility>
#include <vector>

#include "debuginfo/map/compact_map.h"
#include "debuginfo/readers/win/module_maps_win32.h"

namespace kestrix {
namespace {

std::string Folder(const std::string& path) { return path.substr(0, path.find_last_of("\\/")); }

std::string OwnFolder() {
  char path[MAX_PATH];
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  return Folder(path);
}

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

// A copy of map_probe.dll under `name` in a fresh folder, loaded.
class TProbe {
 public:
  explicit TProbe(const std::string& name) {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    folder_ = std::string(temp) + "kxmaps" + std::to_string(GetCurrentProcessId()) + "_" + name;
    CreateDirectoryA(folder_.c_str(), nullptr);
    path = folder_ + "\\" + name + ".dll";
    EXPECT_TRUE(CopyFileA((OwnFolder() + "\\map_probe.dll").c_str(), path.c_str(), FALSE));
    module_ = LoadLibraryA(path.c_str());
    EXPECT_NE(module_, nullptr);
    one = reinterpret_cast<uint32_t>(GetProcAddress(module_, "ProbeOne"));
    two = reinterpret_cast<uint32_t>(GetProcAddress(module_, "ProbeTwo"));
    const auto* base = reinterpret_cast<const uint8_t*>(module_);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_SECTION_HEADER* text = IMAGE_FIRST_SECTION(nt);
    baseOfCode = reinterpret_cast<uint32_t>(module_) + text->VirtualAddress;
    codeSize = text->Misc.VirtualSize;
  }
  ~TProbe() {
    FreeLibrary(module_);
    for (const char* ext : {".dll", ".map", ".kx", ".tds"}) DeleteFileA(Beside(ext).c_str());
    RemoveDirectoryA(folder_.c_str());
  }
  std::string Beside(const char* extension) const { return path.substr(0, path.size() - 4) + extension; }

  // A linker text map: one unit over the whole code, the two functions.
  void WriteTextMap(const std::string& unit) const {
    char line[200];
    std::string t = "Detailed map of segments\r\n\r\n";
    std::snprintf(line, sizeof line, " 0001:00000000 %08X C=CODE     S=.text    G=(none)   M=%-20s ACBP=A9\r\n\r\n",
                  static_cast<unsigned>(codeSize), unit.c_str());
    t += line;
    t += "  Address         Publics by Value\r\n\r\n";
    for (auto [address, name] : {std::pair(one, "ProbeOne"), std::pair(two, "ProbeTwo")}) {
      std::snprintf(line, sizeof line, " 0001:%08X       %s\r\n", static_cast<unsigned>(address - baseOfCode), name);
      t += line;
    }
    WriteText(Beside(".map"), t + "\r\n");
  }

  // Moves the library file's last-write time on by `days`.
  void Touch(int days) const {
    HANDLE h = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES | FILE_READ_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    FILETIME written;
    ASSERT_TRUE(GetFileTime(h, nullptr, nullptr, &written));
    ULARGE_INTEGER t{{written.dwLowDateTime, written.dwHighDateTime}};
    t.QuadPart += days * 864000000000ull;
    written = {t.LowPart, t.HighPart};
    EXPECT_TRUE(SetFileTime(h, nullptr, nullptr, &written));
    CloseHandle(h);
  }

  std::string path;
  uint32_t one = 0, two = 0, baseOfCode = 0, codeSize = 0;

 private:
  std::string folder_;
  HMODULE module_ = nullptr;
};

TEST(ModuleMapsWin, CachedUntilTheModuleFileIsTouched) {
  TProbe probe("probe_cache");
  probe.WriteTextMap("First");
  const std::shared_ptr<const TMapFile> first = MapFileForAddress(probe.one);
  ASSERT_TRUE(first->Valid);
  EXPECT_EQ(first->SegmentAt(true, probe.one).UnitName, "First");
  EXPECT_TRUE(SameText(first->ModuleFileName, probe.path));
  // A new text map alone changes nothing: the module file is the same.
  probe.WriteTextMap("Second");
  const std::shared_ptr<const TMapFile> again = MapFileForAddress(probe.two);
  EXPECT_EQ(again.get(), first.get());
  EXPECT_EQ(ProcNameAtAddress(probe.one), "First.ProbeOne");
  // Touching the module file makes the next lookup build the map again.
  probe.Touch(1);
  const std::shared_ptr<const TMapFile> rebuilt = MapFileForAddress(probe.one);
  ASSERT_TRUE(rebuilt->Valid);
  EXPECT_NE(rebuilt.get(), first.get());
  EXPECT_EQ(rebuilt->SegmentAt(true, probe.one).UnitName, "Second");
  EXPECT_EQ(ProcNameAtAddress(probe.one), "Second.ProbeOne");
  // Whoever held the old map still holds a whole one.
  EXPECT_EQ(first->SegmentAt(true, probe.one).UnitName, "First");
  EXPECT_EQ(MapFileForAddress(probe.one).get(), rebuilt.get());
}

TEST(ModuleMapsWin, ModulesWithoutInformationAreAskedAgain) {
  TProbe probe("probe_late");
  const std::shared_ptr<const TMapFile> none = MapFileForAddress(probe.one);
  EXPECT_FALSE(none->Valid);
  std::string module, unit, name;
  int32_t line = -5;
  uint32_t entry = 0;
  EXPECT_FALSE(DescribeAddress(probe.one, module, unit, line, entry, name));
  EXPECT_EQ(ProcNameAtAddress(probe.one), "");
  // Invalid maps are not cached: a map written now is found at once.
  probe.WriteTextMap("Late");
  ASSERT_TRUE(DescribeAddress(probe.two + 2, module, unit, line, entry, name));
  EXPECT_TRUE(SameText(module, probe.path));
  EXPECT_EQ(unit, "Late");
  EXPECT_EQ(name, "ProbeTwo");
  EXPECT_EQ(entry, probe.two);
  EXPECT_EQ(line, 0);
  // A null address stands for the caller's own module, which has no map here.
  EXPECT_FALSE(MapFileForAddress(0)->Valid);
}

TEST(ModuleMapsWin, ProcNameAtAddress) {
  TProbe probe("probe_names");
  probe.WriteTextMap("Names");
  EXPECT_EQ(ProcNameAtAddress(probe.one), "Names.ProbeOne");
  EXPECT_EQ(ProcNameAtAddress(probe.two), "Names.ProbeTwo");
  EXPECT_EQ(ProcNameAtAddress(probe.two + 1), "") << "only entry addresses are named";
  EXPECT_EQ(ProcNameAtAddress(probe.baseOfCode + probe.codeSize + 0x100000), "");
  // A stripped map beside the library: generated names, and the module.
  TProbe stripped("probe_stripped");
  TMapContents c;
  c.segments = {{0, stripped.codeSize, "Probe", true}};
  const uint32_t one = stripped.one - stripped.baseOfCode, two = stripped.two - stripped.baseOfCode;
  c.publics = {{"ProbeOne", one}, {"ProbeTwo", two}};
  std::sort(c.publics.begin(), c.publics.end(),
            [](const TMapContents::Public& a, const TMapContents::Public& b) { return a.offset < b.offset; });
  WriteText(stripped.Beside(".kx"), WriteCompactMap(c, 0, true));
  const std::string index = two > one ? "1" : "0";
  EXPECT_EQ(ProcNameAtAddress(stripped.two), "segment%0.public%" + index + " (probe_stripped.dll)");
}

}  // namespace
}  // namespace kestrix
