// Guarded reads of the own process under Windows: the region snapshot,
// reads that fail instead of faulting (guard pages untouched), and the
// decoder over the process reader.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>

#include "debuginfo/decoder/decoder.h"
#include "debuginfo/decoder/win/safe_read_win32.h"

namespace kestrix::decoder {
namespace {

uint32_t Address(const void* p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); }

class Pages : public ::testing::Test {
 protected:
  void SetUp() override {
    base_ = static_cast<uint8_t*>(VirtualAlloc(nullptr, 4 * 4096, MEM_RESERVE, PAGE_NOACCESS));
    ASSERT_NE(base_, nullptr);
    ASSERT_NE(VirtualAlloc(base_, 4096, MEM_COMMIT, PAGE_READWRITE), nullptr);
    ASSERT_NE(VirtualAlloc(base_ + 4096, 4096, MEM_COMMIT, PAGE_READWRITE | PAGE_GUARD), nullptr);
    // base_ + 2 pages: reserved only; base_ + 3 pages: read-write again.
    ASSERT_NE(VirtualAlloc(base_ + 3 * 4096, 4096, MEM_COMMIT, PAGE_READWRITE), nullptr);
  }
  void TearDown() override { VirtualFree(base_, 0, MEM_RELEASE); }
  bool StillGuarded() {
    MEMORY_BASIC_INFORMATION info;
    VirtualQuery(base_ + 4096, &info, sizeof info);
    return (info.Protect & PAGE_GUARD) != 0;
  }
  uint8_t* base_ = nullptr;
};

TEST_F(Pages, TheSnapshotTellsReadableFromUnreadable) {
  TDATryRead regions = TakeReadableRegions();
  EXPECT_TRUE(regions.IsReadable(Address(base_)));
  EXPECT_FALSE(regions.IsReadable(Address(base_ + 4096)));      // guard
  EXPECT_FALSE(regions.IsReadable(Address(base_ + 2 * 4096)));  // reserved
  EXPECT_TRUE(regions.IsReadable(Address(base_ + 3 * 4096)));
  EXPECT_TRUE(regions.IsReadable(Address(reinterpret_cast<const void*>(&TakeReadableRegions))));
  for (size_t i = 1; i < regions.size(); ++i) {
    EXPECT_LE(regions[i - 1].end, regions[i].begin);
    if (regions[i - 1].end == regions[i].begin) {
      EXPECT_NE(regions[i - 1].readable, regions[i].readable);
    }
  }
}

TEST_F(Pages, ReadsFailInsteadOfFaulting) {
  std::memcpy(base_, "kestrix", 8);
  char buf[8] = {};
  EXPECT_TRUE(SafeRead(Address(base_), buf, 8));
  EXPECT_STREQ(buf, "kestrix");
  EXPECT_FALSE(SafeRead(0, buf, 4));
  EXPECT_FALSE(SafeRead(Address(base_ + 2 * 4096), buf, 4));
  EXPECT_FALSE(SafeRead(Address(base_ + 4096 - 2), buf, 4));  // runs into the guard page
  TDATryRead regions = TakeReadableRegions();
  EXPECT_FALSE(SafeRead(Address(base_ + 4096), buf, 4, &regions));
  EXPECT_TRUE(StillGuarded());
  EXPECT_FALSE(SafeRead(Address(base_ + 4096), buf, 4));
  EXPECT_TRUE(StillGuarded()) << "the read touched the guard page";
}

TEST_F(Pages, DecodingOwnMemoryStopsAtUnreadablePages) {
  // A call rel32 whose last bytes lie in the guard page.
  uint8_t* at = base_ + 4096 - 3;
  at[0] = 0xE8;
  at[1] = 0x10;
  at[2] = 0x00;
  // The same bytes fully readable.
  uint8_t* ok = base_ + 100;
  const uint8_t code[] = {0xE8, 0x10, 0x00, 0x00, 0x00};
  std::memcpy(ok, code, sizeof code);
  // jmp [pointer]: the pointer read goes through the guarded read too.
  uint8_t* jump = base_ + 200;
  const uint32_t pointer = Address(base_ + 300);
  const uint32_t target = 0x12345678;
  jump[0] = 0xFF;
  jump[1] = 0x25;
  std::memcpy(jump + 2, &pointer, 4);
  std::memcpy(base_ + 300, &target, 4);
  uint8_t* guardedJump = base_ + 400;
  const uint32_t guarded = Address(base_ + 4096);
  guardedJump[0] = 0xFF;
  guardedJump[1] = 0x25;
  std::memcpy(guardedJump + 2, &guarded, 4);

  TDATryRead regions = TakeReadableRegions();
  ProcessReader reader(&regions);
  EXPECT_FALSE(DecodeInstruction(Address(at), reader).isValid);
  EXPECT_TRUE(StillGuarded());
  TInstructionInfo info = DecodeInstruction(Address(ok), reader);
  EXPECT_TRUE(info.isValid && info.isCall);
  EXPECT_EQ(info.target, Address(ok) + 5 + 0x10);
  info = DecodeInstruction(Address(jump), reader);
  EXPECT_TRUE(info.isValid && info.isJump);
  EXPECT_EQ(info.target, target);
  EXPECT_FALSE(DecodeInstruction(Address(guardedJump), reader).isValid);
  EXPECT_TRUE(StillGuarded());
}

TEST(ProcessReader, DecodesTheOwnCode) {
  TDATryRead regions = TakeReadableRegions();
  ProcessReader reader(&regions);
  // The first instructions of a function of this program are valid code.
  uint32_t address = Address(reinterpret_cast<const void*>(&TakeReadableRegions));
  for (int i = 0; i < 5; ++i) {
    TInstructionInfo info = DecodeInstruction(address, reader);
    ASSERT_TRUE(info.isValid) << std::hex << address;
    address = info.end;
  }
}

// Module code is read in place: the reader keeps the module loaded until it
// ends, even when the program frees it meanwhile.
TEST(ProcessReader, HoldsTheModulesItReadsInPlace) {
  ASSERT_EQ(GetModuleHandleA("msacm32.dll"), nullptr);
  HMODULE module = LoadLibraryA("msacm32.dll");
  ASSERT_NE(module, nullptr);
  const uint32_t entry = Address(reinterpret_cast<const void*>(GetProcAddress(module, "acmGetVersion")));
  ASSERT_NE(entry, 0u);
  {
    TDATryRead regions = TakeReadableRegions();
    ProcessReader reader(&regions);
    const TInstructionInfo before = DecodeInstruction(entry, reader);
    EXPECT_TRUE(before.isValid);
    FreeLibrary(module);
    EXPECT_EQ(GetModuleHandleA("msacm32.dll"), module) << "unloaded while a reader reads it in place";
    const TInstructionInfo after = DecodeInstruction(entry, reader);
    EXPECT_TRUE(after.isValid);
    EXPECT_EQ(after.end, before.end);
  }
  EXPECT_EQ(GetModuleHandleA("msacm32.dll"), nullptr) << "the reader kept the module loaded after it ended";
}

}  // namespace
}  // namespace kestrix::decoder
