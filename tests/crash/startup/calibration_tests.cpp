// Module header calibration at start-up: this program and the libraries it
// loads carry "CALIBRATE" records; the start-up has rewritten the headers in
// memory before these tests run.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "crash/startup/win/calibration_win32.h"

extern "C" __declspec(dllimport) int KxCalibSet(void);
extern "C" __declspec(dllimport) int KxCalibClear(void);
extern "C" __declspec(dllimport) int KxCalibSetDll(void);

namespace kestrix {
namespace {

const IMAGE_OPTIONAL_HEADER32& InMemory(HMODULE module) {
  auto base = reinterpret_cast<const uint8_t*>(module);
  auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
  return nt->OptionalHeader;
}

// The header as the module's file has it.
IMAGE_OPTIONAL_HEADER32 OnDisk(HMODULE module) {
  char path[MAX_PATH];
  GetModuleFileNameA(module, path, MAX_PATH);
  std::ifstream in(path, std::ios::binary);
  std::string file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  IMAGE_OPTIONAL_HEADER32 h{};
  if (file.size() < 0x400) return h;
  const LONG pe = reinterpret_cast<const IMAGE_DOS_HEADER*>(file.data())->e_lfanew;
  return reinterpret_cast<const IMAGE_NT_HEADERS32*>(file.data() + pe)->OptionalHeader;
}

TEST(Calibration, ProgramHeaderPlacedAgainstTheLibrarysMarkers) {
  const HMODULE exe = GetModuleHandleA(nullptr);
  const auto base = reinterpret_cast<uintptr_t>(exe);
  const IMAGE_OPTIONAL_HEADER32& h = InMemory(exe);
  EXPECT_EQ(h.BaseOfCode, reinterpret_cast<uintptr_t>(&kestrix_code_marker) - 0x10 - base);
  EXPECT_EQ(h.BaseOfData, reinterpret_cast<uintptr_t>(&kestrix_data_marker) - base - 0x20);
  EXPECT_EQ(h.SizeOfCode, 0x11111u);
  EXPECT_EQ(h.SizeOfInitializedData, 0x22222u);
  EXPECT_EQ(h.SizeOfUninitializedData, 0x33333u);
  EXPECT_NE(h.SizeOfCode, OnDisk(exe).SizeOfCode) << "the file's header differs";
  // The header page is read-only again.
  MEMORY_BASIC_INFORMATION info;
  ASSERT_TRUE(VirtualQuery(&h, &info, sizeof info));
  EXPECT_EQ(info.Protect & 0xFF, static_cast<DWORD>(PAGE_READONLY));
}

TEST(Calibration, PackageModulesTakeTheirOwnValues) {
  ASSERT_EQ(KxCalibSet() + KxCalibClear() + KxCalibSetDll(), 0);
  const HMODULE set = GetModuleHandleA("kx_calib_set.bpl");
  ASSERT_TRUE(set);
  const IMAGE_OPTIONAL_HEADER32& h = InMemory(set);
  EXPECT_EQ(h.BaseOfCode, 0x1000u) << "top bit cleared";
  EXPECT_EQ(h.BaseOfData, 0x2000u);
  EXPECT_EQ(h.SizeOfCode, 0x111u);
  EXPECT_EQ(h.SizeOfInitializedData, 0x222u);
  EXPECT_EQ(h.SizeOfUninitializedData, 0x333u);
}

TEST(Calibration, OtherRecordsAndModulesAreLeftAlone) {
  // A package whose record has the program's form (top bit clear), and a
  // library that is no package: headers as in their files.
  for (const char* name : {"kx_calib_clear.bpl", "kx_calib_setdll.dll"}) {
    SCOPED_TRACE(name);
    const HMODULE module = GetModuleHandleA(name);
    ASSERT_TRUE(module);
    const IMAGE_OPTIONAL_HEADER32& h = InMemory(module);
    const IMAGE_OPTIONAL_HEADER32 file = OnDisk(module);
    EXPECT_EQ(h.BaseOfCode, file.BaseOfCode);
    EXPECT_EQ(h.BaseOfData, file.BaseOfData);
    EXPECT_EQ(h.SizeOfCode, file.SizeOfCode);
    EXPECT_EQ(h.SizeOfInitializedData, file.SizeOfInitializedData);
    EXPECT_NE(h.SizeOfCode, 0x111u);
  }
  // A record of the package form in the program is not taken either.
  EXPECT_FALSE(CalibrateModuleHeader(GetModuleHandleA("kx_calib_set.bpl"), true));
  EXPECT_FALSE(CalibrateModuleHeader(GetModuleHandleA("kernel32.dll"), false)) << "no record";
}

}  // namespace
}  // namespace kestrix
