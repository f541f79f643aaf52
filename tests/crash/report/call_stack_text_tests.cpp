#include "crash/report/call_stack_text.h"

#include <gtest/gtest.h>
#include <zlib.h>

namespace kestrix {
namespace {

TCallStackEntry Entry(uint32_t addr, uint32_t entry, const char* module, const char* unit, int line, int absLine,
                      const char* function) {
  TCallStackEntry e;
  e.finalAddr = addr;
  e.functionEntry = entry;
  e.module = module;
  e.unit = unit;
  e.line = line;
  e.absLine = absLine;
  e.function = function;
  return e;
}

std::vector<TCallStackEntry> ClickStack() {
  auto a = Entry(0x0044ac7f, 0x0044ac6c, "quorrin.exe", "Unit1", 2, 35, "TForm1.Button1Click");
  a.isTop = true;
  auto b = Entry(0x0042f3a1, 0x0042f2e0, "quorrin.exe", "Controls", 67, 4512, "TControl.Click");
  return {a, b};
}

TEST(CallStackText, AlignsColumnsWithRelativeAddressesAndLines) {
  const TCallStackText t = ComposeCallStack(ClickStack(), {false, true, true, false});
  EXPECT_EQ(t.text,
            "0044ac7f +13 quorrin.exe Unit1      35  +2 TForm1.Button1Click\r\n"
            "0042f3a1 +c1 quorrin.exe Controls 4512 +67 TControl.Click");
  EXPECT_EQ(t.printed, 2);
  EXPECT_TRUE(t.hasLines);
  EXPECT_EQ(t.functionEntry, 0x0044ac6cu);
  EXPECT_EQ(t.codeAddress, 0x0044ac7fu);
}

TEST(CallStackText, WithoutRelativeColumnsTheModuleFollowsTheAddress) {
  auto entries = ClickStack();
  entries[0].line = 35;  // without relative lines the line is the plain line
  entries[1].line = 4512;
  const TCallStackText t = ComposeCallStack(entries, {false, false, false, false});
  EXPECT_EQ(t.text,
            "0044ac7f quorrin.exe Unit1      35   35 TForm1.Button1Click\r\n"
            "0042f3a1 quorrin.exe Controls 4512 4512 TControl.Click");
}

TEST(CallStackText, PrintingRules) {
  auto top = Entry(0x1000, 0, "a.exe", "", 0, 0, "");
  top.isTop = true;
  auto noName = Entry(0x2000, 0, "a.exe", "", 0, 0, "");
  auto noLine = Entry(0x3000, 0x2ff0, "kernel32.dll", "", 0, 0, "Sleep");
  auto repeat = noLine;
  auto removed = Entry(0x4000, 0x3ff0, "a.exe", "Main", 3, 10, "Run");
  removed.removed = true;
  auto nameWithheld = Entry(0x5000, 0x4ff8, "b.exe", "", 0, 0, "");
  const std::vector<TCallStackEntry> entries{top, noName, noLine, repeat, removed, nameWithheld};
  // The top entry always prints; entries without a function never (a
  // function known by its entry only prints with module and address); an
  // address is not repeated.
  TCallStackText t = ComposeCallStack(entries, {false, true, true, false});
  // Module column: longest name + 1; unit column: empty units + 1.
  EXPECT_EQ(t.text, "00001000 +00 a.exe         \r\n00003000 +10 kernel32.dll  Sleep\r\n"
                    "00005000 +08 b.exe         ");
  EXPECT_FALSE(t.hasLines);
  // Hiding ugly items drops entries without a line, not the top one.
  t = ComposeCallStack(entries, {true, true, true, false});
  EXPECT_EQ(t.text, "00001000 a.exe  ");
  // With a creator, entry 0 prints whatever it is.
  auto first = noName;
  t = ComposeCallStack({first}, {true, false, false, true});
  EXPECT_EQ(t.text, "00002000 a.exe  ");
}

TEST(CallStackText, NegativeRelativeLineKeepsItsSign) {
  auto e = Entry(0x500010, 0x500000, "m.exe", "U", -2, 40, "F");
  e.isTop = true;
  EXPECT_EQ(ComposeCallStack({e}, {false, false, true, false}).text, "00500010 m.exe U 40 +-2 F");
}

TEST(CallStackText, CrcStepMatchesZlibWithComplements) {
  const std::string data = "quorrin.exe";
  for (uint32_t v : {0u, 1u, 0x12345678u, 0xFFFFFFFFu}) {
    const uint32_t viaZlib =
        ~static_cast<uint32_t>(crc32(~v, reinterpret_cast<const Bytef*>(data.data()), data.size()));
    EXPECT_EQ(CrcStepText(v, data), viaZlib) << v;
  }
  const unsigned char le[4] = {0x78, 0x56, 0x34, 0x12};
  EXPECT_EQ(CrcStepDword(7, 0x12345678), CrcStep(7, le, 4));
}

TEST(CallStackText, ChecksumsFollowFunctionsNotAddresses) {
  const TCallStackText t = ComposeCallStack(ClickStack(), {false, true, true, false});
  uint32_t first = CrcStepText(CrcStepText(CrcStepText(0x13, "quorrin.exe"), "unit1"), "tform1.button1click");
  uint32_t second = CrcStepText(CrcStepText(CrcStepText(0xc1, "quorrin.exe"), "controls"), "tcontrol.click");
  EXPECT_EQ(t.checksum1, first);
  EXPECT_EQ(t.checksum2, CrcStepDword(first, second));
  // The same functions at another load address give the same checksums;
  // an entry without debug information counts by its address.
  auto moved = ClickStack();
  for (auto& e : moved) {
    e.finalAddr += 0x10000;
    e.functionEntry += 0x10000;
  }
  EXPECT_EQ(ComposeCallStack(moved, {}).checksum2, t.checksum2);
  auto bare = ClickStack();
  bare[0].functionEntry = 0;
  EXPECT_EQ(ComposeCallStack(bare, {}).checksum1, 0x0044ac7fu);
}

TEST(CallStackText, FormatCodeLocationOfOneAddress) {
  TLocationFacts f;
  f.described = true;
  f.entry = 0x0044ac6c;
  f.module = "quorrin.exe";
  f.unit = "Unit1";
  f.function = "TForm1.Button1Click";
  f.line = 35;
  f.firstLine = 33;
  EXPECT_EQ(FormatCodeLocation(0x0044ac7f, f, true, true), "0044ac7f +13 quorrin.exe Unit1 35 +2 TForm1.Button1Click");
  EXPECT_EQ(FormatCodeLocation(0x0044ac7f, f, false, false), "0044ac7f quorrin.exe Unit1 35 TForm1.Button1Click");
  // Without a line neither the line nor the relative line is written.
  f.line = 0;
  EXPECT_EQ(FormatCodeLocation(0x0044ac7f, f, true, true), "0044ac7f +13 quorrin.exe Unit1 TForm1.Button1Click");
  EXPECT_EQ(FormatCodeLocation(0x0044ac7f, TLocationFacts(), true, true), "0044ac7f +0 ???");
  EXPECT_EQ(FormatCodeLocation(0x0044ac7f, TLocationFacts(), false, true), "0044ac7f ???");
}

TEST(CallStackText, PrintedEntriesAreNamedByIndex) {
  auto stack = ClickStack();
  stack.insert(stack.begin() + 1, stack[0]);  // the same address again: not printed twice
  stack[1].isTop = false;
  std::vector<int> printed;
  const TCallStackText t = ComposeCallStack(stack, {false, true, true, false}, &printed);
  EXPECT_EQ(printed, (std::vector<int>{0, 2}));
  EXPECT_EQ(t.printed, 2);
}

TEST(CallStackText, CallstackCrcItem) {
  EXPECT_EQ(CallstackCrcText(0x1, 0xabcdef12, 0), "$00000001, $abcdef12, $00000000");
  EXPECT_EQ(CallstackCrcText(0, 0, 0).size(), 31u);
}

}  // namespace
}  // namespace kestrix
