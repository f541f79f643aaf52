// Code and import patching: records, undo, atomic writes, import slots.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "crash/threads/win/code_patch_win32.h"

namespace kestrix {
namespace {

// Executable memory for hand-made code.
class TCodeBuffer {
 public:
  TCodeBuffer() {
    code_ = static_cast<uint8_t*>(VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE));
    std::memset(code_, 0xCC, 4096);
    DWORD old;
    VirtualProtect(code_, 4096, PAGE_EXECUTE_READ, &old);
  }
  ~TCodeBuffer() { VirtualFree(code_, 0, MEM_RELEASE); }
  uint8_t* At(size_t offset) { return code_ + offset; }
  // Writes bytes outside the patcher (as "someone else").
  void Put(size_t offset, std::initializer_list<uint8_t> bytes) {
    DWORD old;
    VirtualProtect(code_, 4096, PAGE_EXECUTE_READWRITE, &old);
    std::copy(bytes.begin(), bytes.end(), code_ + offset);
    VirtualProtect(code_, 4096, old, &old);
    FlushInstructionCache(GetCurrentProcess(), code_, 4096);
  }

 private:
  uint8_t* code_;
};

// mov eax, imm32; ret
void PutReturn(TCodeBuffer& b, size_t at, uint32_t value) {
  b.Put(at, {0xB8, uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16), uint8_t(value >> 24), 0xC3});
}

using TFunction = uint32_t (*)();
uint32_t Call(uint8_t* p) { return reinterpret_cast<TFunction>(p)(); }

class CodePatch : public ::testing::Test {
 protected:
  void TearDown() override { UndoCodePatches(); }
};

TEST_F(CodePatch, IdenticalBytesRecordNothingAndUndoPutsTheOldBytesBack) {
  TCodeBuffer b;
  b.Put(0, {0x90, 0x90, 0x90, 0x90});
  const uint8_t same[4] = {0x90, 0x90, 0x90, 0x90};
  EXPECT_TRUE(PatchCode(b.At(0), same, 4));
  EXPECT_EQ(CodePatchCount(), 0u);
  const uint8_t other[4] = {0x41, 0x42, 0x43, 0x44};
  EXPECT_TRUE(PatchCode(b.At(0), other, 4));
  EXPECT_TRUE(PatchCode(b.At(0), other, 4));
  EXPECT_EQ(CodePatchCount(), 1u);
  EXPECT_EQ(std::memcmp(b.At(0), other, 4), 0);
  // The protection is what it was.
  MEMORY_BASIC_INFORMATION mbi;
  VirtualQuery(b.At(0), &mbi, sizeof mbi);
  EXPECT_EQ(mbi.Protect, static_cast<DWORD>(PAGE_EXECUTE_READ));
  UndoCodePatches();
  EXPECT_EQ(CodePatchCount(), 0u);
  EXPECT_EQ(std::memcmp(b.At(0), same, 4), 0);
}

TEST_F(CodePatch, UndoLeavesPlacesSomeoneElseChangedAndUndoesOverlappingPatchesNewestFirst) {
  TCodeBuffer b;
  b.Put(0, {1, 2, 3, 4});
  b.Put(16, {5, 6, 7, 8});
  const uint8_t x[4] = {9, 9, 9, 9}, y[4] = {7, 7, 7, 7};
  ASSERT_TRUE(PatchCode(b.At(0), x, 4));
  ASSERT_TRUE(PatchCode(b.At(16), x, 4));
  ASSERT_TRUE(PatchCode(b.At(16), y, 4));  // over the first patch there
  b.Put(0, {0xAA, 0xAA, 0xAA, 0xAA});        // someone else's change
  UndoCodePatches();
  EXPECT_EQ(b.At(0)[0], 0xAA);
  EXPECT_EQ(b.At(16)[0], 5);
  EXPECT_EQ(b.At(16)[3], 8);
}

TEST_F(CodePatch, JumpsReachTheirTargetAtEveryAlignmentAndThroughAJumpStub) {
  TCodeBuffer b;
  PutReturn(b, 2048, 4242);
  for (size_t offset = 0; offset < 16; ++offset) {
    const size_t at = 256 + offset * 32;
    PutReturn(b, at, 1);
    ASSERT_EQ(Call(b.At(at)), 1u);
    ASSERT_TRUE(PatchJump(b.At(at), b.At(2048))) << offset;
    EXPECT_EQ(b.At(at)[0], 0xE9);
    EXPECT_EQ(Call(b.At(at)), 4242u) << offset;
  }
  // jmp [pointer]: the stub's destination is patched, not the stub.
  PutReturn(b, 1024, 5);
  const uint32_t pointerAddress = reinterpret_cast<uint32_t>(b.At(1100));
  const uint32_t destination = reinterpret_cast<uint32_t>(b.At(1024));
  b.Put(1100, {uint8_t(destination), uint8_t(destination >> 8), uint8_t(destination >> 16),
               uint8_t(destination >> 24)});
  b.Put(1200, {0xFF, 0x25, uint8_t(pointerAddress), uint8_t(pointerAddress >> 8), uint8_t(pointerAddress >> 16),
               uint8_t(pointerAddress >> 24)});
  ASSERT_TRUE(PatchJump(b.At(1200), b.At(2048)));
  EXPECT_EQ(b.At(1200)[0], 0xFF);
  EXPECT_EQ(b.At(1024)[0], 0xE9);
  EXPECT_EQ(Call(b.At(1200)), 4242u);
  UndoCodePatches();
  EXPECT_EQ(Call(b.At(1200)), 5u);
  EXPECT_EQ(Call(b.At(256)), 1u);
}

TEST_F(CodePatch, ACallTargetChangesWhileAnotherThreadKeepsCallingIt) {
  TCodeBuffer b;
  PutReturn(b, 512, 1);
  PutReturn(b, 768, 2);
  // call rel32 at an address whose displacement crosses an 8-byte block;
  // ret.
  const size_t call = 61;
  const int32_t toFirst = static_cast<int32_t>(512 - (call + 5));
  b.Put(call, {0xE8, uint8_t(toFirst), uint8_t(toFirst >> 8), uint8_t(toFirst >> 16), uint8_t(toFirst >> 24), 0xC3});
  std::atomic<bool> stop{false};
  std::atomic<int> bad{0};
  std::thread caller([&] {
    while (!stop) {
      const uint32_t r = Call(b.At(call));
      if (r != 1 && r != 2) ++bad;
    }
  });
  const int32_t toSecond = static_cast<int32_t>(768 - (call + 5));
  for (int i = 0; i < 50; ++i) {
    ASSERT_TRUE(PatchValue(b.At(call + 1), static_cast<uint32_t>(toSecond)));
    UndoCodePatches();
  }
  stop = true;
  caller.join();
  EXPECT_EQ(bad, 0);
  EXPECT_EQ(Call(b.At(call)), 1u);
}

TEST_F(CodePatch, UnreadablePlacesFailWithoutFault) {
  const uint8_t x[4] = {1, 2, 3, 4};
  EXPECT_FALSE(PatchCode(nullptr, x, 4));
  EXPECT_FALSE(PatchCode(reinterpret_cast<void*>(0x10), x, 4));
  EXPECT_EQ(CodePatchCount(), 0u);
}

DWORD WINAPI FixedTickCount() { return 4711; }

// Through the import slot as it is now (the compiler may keep one load of
// a slot for a whole function).
__attribute__((noinline)) DWORD TickCount() { return GetTickCount(); }

TEST(ImportPatch, EveryModuleSlotIsPointedAtTheReplacementAndBack) {
  void* original = PatchImports("kernel32.dll", "GetTickCount", nullptr, reinterpret_cast<void*>(&FixedTickCount));
  ASSERT_NE(original, nullptr);
  EXPECT_EQ(original, reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetTickCount")));
  EXPECT_EQ(TickCount(), 4711u);  // through this program's own import
  EXPECT_GE(CountImportSlots(reinterpret_cast<void*>(&FixedTickCount)), 1u);
  UnpatchImports(nullptr, original, reinterpret_cast<void*>(&FixedTickCount));
  EXPECT_EQ(CountImportSlots(reinterpret_cast<void*>(&FixedTickCount)), 0u);
  EXPECT_NE(TickCount(), 4711u);
  EXPECT_GE(CountImportSlots(original), 1u);
  EXPECT_EQ(PatchImports("kernel32.dll", "NoSuchFunction", nullptr, reinterpret_cast<void*>(&FixedTickCount)),
            nullptr);
}

TEST(ImportPatch, OneModuleByNameLeavesTheOthers) {
  HMODULE exe = GetModuleHandleA(nullptr);
  void* original = PatchModuleImport(exe, "GetTickCount", reinterpret_cast<void*>(&FixedTickCount));
  ASSERT_NE(original, nullptr);
  EXPECT_EQ(TickCount(), 4711u);
  EXPECT_EQ(CountImportSlots(reinterpret_cast<void*>(&FixedTickCount)), 1u);
  EXPECT_TRUE(PatchModuleImports(exe, reinterpret_cast<void*>(&FixedTickCount), original));
  EXPECT_EQ(CountImportSlots(reinterpret_cast<void*>(&FixedTickCount)), 0u);
  EXPECT_EQ(PatchModuleImport(exe, "NoSuchImport", reinterpret_cast<void*>(&FixedTickCount)), nullptr);
}

}  // namespace
}  // namespace kestrix
