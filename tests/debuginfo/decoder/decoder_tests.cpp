// Decoding: lengths and validity by the attribute words and the validity
// table (the cases in cases/length), prefixes, ModR/M and SIB in both
// address sizes, targets, and the register state.
#include <gtest/gtest.h>

#include "debuginfo/decoder/decoder.h"
#include "debuginfo/decoder/opcode_tables.h"
#include "tests/debuginfo/decoder/case_files.h"
#include "tests/debuginfo/decoder/test_bytes.h"

namespace kestrix::decoder {
namespace {

using namespace testing;  // the bytes of hexadecimal text, the case files
constexpr uint32_t kBase = 0x00401000;

TInstructionInfo DecodeHex(const std::string& hex, RegisterState* state = nullptr) {
  static std::vector<uint8_t> keep;
  keep = Bytes(hex);
  BufferReader reader(keep.data(), keep.size(), kBase);
  return DecodeInstruction(kBase, reader, state);
}

int LengthOf(const std::string& hex) {
  TInstructionInfo info = DecodeHex(hex);
  return info.isValid ? static_cast<int>(info.end - info.begin) : 0;
}

TEST(OpcodeTables, TellingRowsOfTheAttributeWord) {
  struct Row { uint16_t opcode; uint16_t attributes; } rows[] = {
      {0x00, 0x4211}, {0x01, 0x42E4}, {0x03, 0x20E4}, {0x04, 0x8401}, {0x05, 0x8C42}, {0x74, 0x1400},
      {0x8B, 0x20E4}, {0xA1, 0x8142}, {0xB8, 0x6C45}, {0xC2, 0x0800}, {0xE8, 0x1C00}, {0xEB, 0x1400},
      {0xFF, 0x01A0}, {0xF6, 0x0008}, {0x0F0F, 0x052D}, {0x0F20, 0x4223}, {0x0F84, 0x1C00},
      {0x0FB6, 0x2154}, {0x0FC8, 0x6005}};
  for (const Row& r : rows) {
    const TOpcodeEntry& e = r.opcode < 0x100 ? kOneByteMap[r.opcode] : kTwoByteMap[r.opcode & 0xFF];
    EXPECT_EQ(e.attributes, r.attributes) << std::hex << r.opcode;
  }
}

TEST(OpcodeTables, NotationsOfTheMnemonicText) {
  auto has = [](const char* name) {
    for (int i = 1; i <= MnemonicCount(); ++i) {
      if (std::string(Mnemonic(static_cast<uint8_t>(i))) == name) return true;
    }
    return false;
  };
  for (const char* name : {"cwde/cbw", "movq/movdqa//movdqu", "movuPS//movPS/movPS",
                           "add|or|adc|sbb|and|sub|xor|cmp", "inc|dec|call|call|jmp|jmp|push",
                           "rol|ror|rcl|rcr|shl|shr|sal|sar", "test||not|neg|mul|imul|div|idiv",
                           "movhlPS:movlPS/movlPS/movddup/movsldup", "j%cc", "cmov%cc", "set%cc",
                           "pop     %seg", "push    %seg", "int     3"}) {
    EXPECT_TRUE(has(name)) << name;
  }
  EXPECT_STREQ(ThreeDNowName(0x9E), "pfadd");
  EXPECT_STREQ(ThreeDNowName(0xB4), "pfmul");
  EXPECT_STREQ(ThreeDNowName(0xBF), "pavgusb");
  EXPECT_EQ(ThreeDNowName(0x00), nullptr);
  EXPECT_STREQ(Mnemonic(0), "");
}

// cases/length/<name>.in and .out: each instruction's length in bytes, 0 for
// an invalid one.
class LengthCases : public ::testing::TestWithParam<std::string> {};

TEST_P(LengthCases, EachInstructionsLength) {
  const TCaseFile file = ReadCases(DECODER_CASES "/length", GetParam());
  ASSERT_EQ(file.error, "");
  ASSERT_FALSE(file.cases.empty());
  for (const TCase& c : file.cases) EXPECT_EQ(std::to_string(LengthOf(c.hex)), c.expected) << c.where;
}

INSTANTIATE_TEST_SUITE_P(Files, LengthCases, ::testing::ValuesIn(CaseNames(DECODER_CASES "/length")),
                         [](const ::testing::TestParamInfo<std::string>& info) { return info.param; });

TEST(LengthCaseFiles, AreThere) { EXPECT_GE(CaseNames(DECODER_CASES "/length").size(), 2u); }

TEST(Decoder, TruncatedAndUnreadableCodeIsInvalid) {
  EXPECT_EQ(LengthOf(""), 0);
  EXPECT_EQ(LengthOf("8b"), 0);
  EXPECT_EQ(LengthOf("8b 45"), 0);
  EXPECT_EQ(LengthOf("e8 00 00 00"), 0);
  EXPECT_EQ(LengthOf("0f"), 0);
  EXPECT_EQ(LengthOf("66 66 66"), 0);
  // Longer than 15 bytes: the processor refuses it.
  EXPECT_EQ(LengthOf("3e 3e 3e 3e 3e 3e 3e 3e 3e 3e 3e 05 00 00 00 00"), 0);
  EXPECT_EQ(LengthOf("3e 3e 3e 3e 3e 3e 3e 3e 3e 3e 05 00 00 00 00"), 15);
  TInstructionInfo info = DecodeHex("8b");
  EXPECT_EQ(info.end, kBase + 1);  // an invalid instruction ends after its first byte
}

TEST(Decoder, OpcodeModRmAndFieldsOfTheResult) {
  TInstructionInfo info = DecodeHex("66 0f b6 45 08");
  EXPECT_TRUE(info.isValid);
  EXPECT_EQ(info.opcode, 0x0FB6);
  EXPECT_EQ(info.modRm, 0x45);
  EXPECT_EQ(info.begin, kBase);
  EXPECT_EQ(info.end, kBase + 5);
  info = DecodeHex("c3");
  EXPECT_EQ(info.opcode, 0xC3);
  EXPECT_EQ(info.modRm, 0);
  EXPECT_FALSE(info.isCall || info.isJump);
}

TEST(Decoder, RelativeTargets) {
  TInstructionInfo call = DecodeHex("e8 10 00 00 00");
  EXPECT_TRUE(call.isCall && call.isRelative);
  EXPECT_FALSE(call.isJump);
  EXPECT_EQ(call.target, kBase + 5 + 0x10);
  EXPECT_EQ(call.targetField, kBase + 1);
  EXPECT_EQ(call.targetSize, 4u);
  EXPECT_EQ(call.pointerField, 0u);

  TInstructionInfo back = DecodeHex("eb fe");
  EXPECT_TRUE(back.isJump && back.isNearJump);
  EXPECT_EQ(back.target, kBase);
  EXPECT_EQ(back.targetSize, 1u);

  TInstructionInfo jz = DecodeHex("0f 84 00 ff ff ff");
  EXPECT_TRUE(jz.isJump && jz.isNearJump && jz.isRelative);
  EXPECT_EQ(jz.target, kBase + 6 - 0x100);
  EXPECT_EQ(jz.targetField, kBase + 2);

  TInstructionInfo jz16 = DecodeHex("66 0f 84 10 00");
  EXPECT_EQ(jz16.target, kBase + 5 + 0x10);
  EXPECT_EQ(jz16.targetSize, 2u);

  for (const char* loop : {"e0 10", "e1 10", "e2 10", "e3 10"}) {
    TInstructionInfo l = DecodeHex(loop);
    EXPECT_TRUE(l.isJump) << loop;
    EXPECT_FALSE(l.isNearJump) << loop;
    EXPECT_EQ(l.target, kBase + 2 + 0x10);
  }
}

TEST(Decoder, ACallToTheNextInstructionIsNeitherCallNorJump) {
  TInstructionInfo info = DecodeHex("e8 00 00 00 00");
  EXPECT_TRUE(info.isValid);
  EXPECT_FALSE(info.isCall || info.isJump || info.isRelative);
  EXPECT_EQ(info.target, 0u);
  EXPECT_EQ(info.targetField, 0u);
  EXPECT_EQ(DecodeHex("74 00").isJump, 0);
}

TEST(Decoder, FarCallsAndJumpsHaveNoKnownTarget) {
  TInstructionInfo call = DecodeHex("9a 78 56 34 12 08 00");
  EXPECT_TRUE(call.isCall);
  EXPECT_EQ(call.target, 0u);
  TInstructionInfo jump = DecodeHex("ea 78 56 34 12 08 00");
  EXPECT_TRUE(jump.isJump);
  EXPECT_EQ(jump.target, 0u);
}

// Code at kBase, a pointer table behind it.
class IndirectTargets : public ::testing::Test {
 protected:
  void Place(const std::string& code, uint32_t offset, uint32_t value) {
    bytes_ = Bytes(code);
    if (bytes_.size() < offset + 4) bytes_.resize(offset + 4);
    for (int i = 0; i < 4; ++i) bytes_[offset + i] = static_cast<uint8_t>(value >> (8 * i));
  }
  TInstructionInfo At(uint32_t address, RegisterState* state = nullptr) {
    BufferReader reader(bytes_.data(), bytes_.size(), kBase);
    return DecodeInstruction(address, reader, state);
  }
  std::vector<uint8_t> bytes_;
};

TEST_F(IndirectTargets, JumpThroughAPointerAtADisplacement) {
  Place("ff 25 40 10 40 00", 0x40, 0x7C801234);  // jmp [$00401040]
  TInstructionInfo info = At(kBase);
  EXPECT_TRUE(info.isValid && info.isJump);
  EXPECT_FALSE(info.isRelative);
  EXPECT_EQ(info.pointerField, kBase + 2);
  EXPECT_EQ(info.targetField, 0x00401040u);
  EXPECT_EQ(info.target, 0x7C801234u);
  EXPECT_EQ(info.targetSize, 4u);

  Place("ff 15 40 10 40 00", 0x40, 0x7C801234);  // call [$00401040]
  EXPECT_TRUE(At(kBase).isCall);
  Place("ff 15 00 20 40 00", 0x40, 0);  // the pointer lies outside readable memory
  EXPECT_FALSE(At(kBase).isValid);
}

TEST_F(IndirectTargets, RegisterFormResolvedOnlyThroughTheState) {
  Place("b8 00 20 40 00 ff d0", 0x40, 0);  // mov eax, $00402000; call eax
  EXPECT_EQ(At(kBase + 5).target, 0u);    // without a state: unknown, still a valid call
  EXPECT_TRUE(At(kBase + 5).isCall);
  RegisterState state;
  At(kBase, &state);
  EXPECT_EQ(state.reg[0], kBase + 1);  // the immediate's address
  TInstructionInfo call = At(kBase + 5, &state);
  EXPECT_TRUE(call.isCall);
  EXPECT_EQ(call.target, 0x00402000u);
  EXPECT_EQ(call.targetField, kBase + 1);
  EXPECT_EQ(call.pointerField, 0u);
}

TEST_F(IndirectTargets, MemoryFormThroughARegister) {
  // mov esi, $00401040; call [esi]; at $00401040 the pointer $7C801234.
  Place("be 40 10 40 00 ff 16", 0x40, 0x7C801234);
  RegisterState state;
  At(kBase, &state);
  TInstructionInfo call = At(kBase + 5, &state);
  EXPECT_TRUE(call.isValid && call.isCall);
  EXPECT_EQ(call.target, 0x7C801234u);
  EXPECT_EQ(call.targetField, 0x00401040u);
  EXPECT_EQ(call.pointerField, kBase + 1);

  // The register points outside readable memory: invalid.
  Place("be 00 30 40 00 ff 16", 0x40, 0);
  RegisterState other;
  At(kBase, &other);
  EXPECT_FALSE(At(kBase + 5, &other).isValid);

  // [esi+4] has a displacement: not resolved.
  Place("be 40 10 40 00 ff 56 04", 0x40, 0x7C801234);
  RegisterState third;
  At(kBase, &third);
  EXPECT_EQ(At(kBase + 5, &third).target, 0u);
}

TEST(RegisterState, MovesRecordAndWritesForget) {
  RegisterState s;
  for (int r = 0; r < 8; ++r) s.reg[r] = 0x1000 + r;
  auto run = [&](const std::string& hex) { return DecodeHex(hex, &s); };
  run("8b c8");  // mov ecx, eax: copies
  EXPECT_EQ(s.reg[1], 0x1000u);
  run("66 8b d0");  // mov dx, ax: only a part: unknown
  EXPECT_EQ(s.reg[2], 0u);
  run("66 b8 01 00");
  EXPECT_EQ(s.reg[0], 0u);
  run("bb 00 00 40 00");
  EXPECT_EQ(s.reg[3], kBase + 1);
  run("c7 c6 00 00 40 00");  // mov esi, imm32 through C7
  EXPECT_EQ(s.reg[6], kBase + 2);
  run("03 f8");  // add edi, eax
  EXPECT_EQ(s.reg[7], 0u);
  run("01 f3");  // add ebx, esi (r/m written)
  EXPECT_EQ(s.reg[3], 0u);
  s.reg[3] = 1;
  run("83 fb 05");  // cmp ebx, 5 writes nothing
  EXPECT_EQ(s.reg[3], 1u);
  run("83 c3 05");  // add ebx, 5
  EXPECT_EQ(s.reg[3], 0u);
  s.reg[1] = 1;
  run("f3 ab");  // rep stosd: ecx and edi
  EXPECT_EQ(s.reg[1], 0u);
  s.reg[1] = 1;
  run("f3 0f b8 c8");  // popcnt ecx, eax: F3 before 0F leaves ecx to the attribute word, which writes it
  EXPECT_EQ(s.reg[1], 0u);
  s.reg[6] = s.reg[7] = 1;
  run("a5");  // movsd
  EXPECT_EQ(s.reg[6] + s.reg[7], 0u);
  s.reg[2] = 1;
  run("99");  // cdq
  EXPECT_EQ(s.reg[2], 0u);
  s.reg[2] = s.reg[0] = 1;
  run("f7 e1");  // mul ecx: eax and edx
  EXPECT_EQ(s.reg[2] + s.reg[0], 0u);
  s.reg[5] = 1;
  run("c9");  // leave
  EXPECT_EQ(s.reg[5], 0u);
  s.reg[1] = 1;
  run("e2 fe");  // loop
  EXPECT_EQ(s.reg[1], 0u);
  s.reg[3] = 1;
  run("ff c3");  // inc ebx
  EXPECT_EQ(s.reg[3], 0u);
  s.reg[0] = s.reg[1] = s.reg[2] = s.reg[3] = 1;
  run("0f a2");  // cpuid
  EXPECT_EQ(s.reg[0] + s.reg[1] + s.reg[2] + s.reg[3], 0u);
  s.reg[0] = s.reg[2] = 1;
  run("0f 31");  // rdtsc
  EXPECT_EQ(s.reg[0] + s.reg[2], 0u);
  s.reg[0] = 1;
  run("df e0");  // fnstsw ax
  EXPECT_EQ(s.reg[0], 0u);
  s.reg[2] = 1;
  run("8a f1");  // mov dh, cl: edx
  EXPECT_EQ(s.reg[2], 0u);
  s.reg[1] = 1;
  run("0f 7e c1");  // movd ecx, mm0
  EXPECT_EQ(s.reg[1], 0u);
  for (int r = 0; r < 8; ++r) s.reg[r] = 1;
  run("61");  // popad
  EXPECT_EQ(s, RegisterState{});
}

TEST(RegisterState, ACallForgetsTheCallerSavedRegisters) {
  RegisterState s;
  for (int r = 0; r < 8; ++r) s.reg[r] = 0x1000 + r;
  DecodeHex("e8 10 00 00 00", &s);
  EXPECT_EQ(s.reg[0] + s.reg[1] + s.reg[2], 0u);
  EXPECT_EQ(s.reg[3], 0x1003u);
  EXPECT_EQ(s.reg[6], 0x1006u);
}

}  // namespace
}  // namespace kestrix::decoder
