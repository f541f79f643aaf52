// The instruction line: the cases in cases/format (mnemonic notations,
// operand forms, immediates, branches, "db" lines, long mnemonics), an
// unreadable address, and the name and string annotations.
#include <gtest/gtest.h>

#include <map>

#include "debuginfo/decoder/formatter.h"
#include "tests/debuginfo/decoder/case_files.h"
#include "tests/debuginfo/decoder/test_bytes.h"

namespace kestrix::decoder {
namespace {

using namespace testing;  // the bytes of hexadecimal text, the case files
constexpr uint32_t kBase = 0x00401000;

std::string Line(const std::string& hex) {
  std::vector<uint8_t> bytes = Bytes(hex);
  BufferReader reader(bytes.data(), bytes.size(), kBase);
  TFormatContext context{&reader, nullptr};
  return FormatInstruction(kBase, context).text;
}

// cases/format/<name>.in and .out: the line written for each instruction
// at $00401000.
class FormatterCases : public ::testing::TestWithParam<std::string> {};

TEST_P(FormatterCases, EachInstructionAsWritten) {
  const TCaseFile file = ReadCases(DECODER_CASES "/format", GetParam());
  ASSERT_EQ(file.error, "");
  ASSERT_FALSE(file.cases.empty());
  for (const TCase& c : file.cases) EXPECT_EQ(Line(c.hex), c.expected) << c.where;
}

INSTANTIATE_TEST_SUITE_P(Files, FormatterCases, ::testing::ValuesIn(CaseNames(DECODER_CASES "/format")),
                         [](const ::testing::TestParamInfo<std::string>& info) { return info.param; });

TEST(FormatterCaseFiles, AreThere) { EXPECT_GE(CaseNames(DECODER_CASES "/format").size(), 6u); }

TEST(Formatter, UnreadableCodeIsADbLineOfItsOwn) {
  BufferReader empty(nullptr, 0, kBase);
  TFormatContext context{&empty, nullptr};
  TFormattedInstruction f = FormatInstruction(kBase, context);
  EXPECT_EQ(f.text, "00401000   db ??");
  EXPECT_EQ(f.info.end, kBase + 1);
}

// One module at $00400000-$00410000 with names; another one beyond.
class FakeSymbols final : public SymbolSource {
 public:
  bool ModuleOf(uint32_t address, TModuleRange* out) const override {
    if (address >= 0x00400000 && address < 0x00410000) {
      *out = {0x00400000, 0x00410000, true, "quorrin.exe"};
      return true;
    }
    if (address >= 0x7C800000 && address < 0x7C900000) {
      *out = {0x7C800000, 0x7C900000, false, "kernel32.dll"};
      return true;
    }
    return false;
  }
  std::string NameAt(uint32_t address) const override {
    auto it = names.find(address);
    return it == names.end() ? std::string() : it->second;
  }
  std::map<uint32_t, std::string> names;
};

class Annotations : public ::testing::Test {
 protected:
  Annotations() : image_(0x10000, 0xCC) {}
  void Put(uint32_t address, const std::string& hex) {
    std::vector<uint8_t> b = Bytes(hex);
    std::copy(b.begin(), b.end(), image_.begin() + (address - 0x00400000));
  }
  void PutText(uint32_t address, const std::string& text) {
    std::copy(text.begin(), text.end(), image_.begin() + (address - 0x00400000));
    image_[address - 0x00400000 + text.size()] = 0;
  }
  std::string At(uint32_t address) {
    BufferReader reader(image_.data(), image_.size(), 0x00400000);
    TFormatContext context{&reader, &symbols_};
    return FormatInstruction(address, context).text;
  }
  std::vector<uint8_t> image_;
  FakeSymbols symbols_;
};

TEST_F(Annotations, CallTargetsByName) {
  symbols_.names[0x00402000] = "Unit1.TForm1.Button1Click";
  Put(0x00401000, "e8 fb 0f 00 00");  // call $00402000
  EXPECT_EQ(At(0x00401000), "00401000   call    +$0ffb ($00402000)     ; Unit1.TForm1.Button1Click");
}

TEST_F(Annotations, ImportThunksAreNamedByWhatTheyLeadTo) {
  symbols_.names[0x7C801234] = "GetTickCount";
  Put(0x00403000, "ff 25 00 50 40 00");  // jmp [$00405000]
  Put(0x00405000, "34 12 80 7c");
  Put(0x00401000, "e8 fb 1f 00 00");  // call $00403000, the thunk
  EXPECT_EQ(At(0x00401000), "00401000   call    +$1ffb ($00403000)     ; GetTickCount (kernel32.dll)");
  // The thunk itself, through its pointer.
  EXPECT_EQ(At(0x00403000), "00403000   jmp     dword ptr [$00405000]  ; GetTickCount (kernel32.dll)");
}

TEST_F(Annotations, NamesWithParenthesesGetNoModule) {
  symbols_.names[0x7C801234] = "public%1 (kernel32.dll)";
  Put(0x00401000, "ff 15 00 50 40 00");
  Put(0x00405000, "34 12 80 7c");
  EXPECT_EQ(At(0x00401000), "00401000   call    dword ptr [$00405000]  ; public%1 (kernel32.dll)");
}

TEST_F(Annotations, PlainTextAtAConstantAddress) {
  PutText(0x00406000, "Access violation at address");
  Put(0x00401000, "68 00 60 40 00");  // push $00406000
  EXPECT_EQ(At(0x00401000), "00401000   push    $00406000              ; 'Access violation at address'");
  Put(0x00401010, "8b 0d 00 60 40 00");  // mov ecx, [$00406000]
  EXPECT_EQ(At(0x00401010), "00401010   mov     ecx, [$00406000]       ; 'Access violation at address'");
}

TEST_F(Annotations, AnImmediatePointingAtAPointerToText) {
  PutText(0x00406100, "Hello world");
  Put(0x00406000, "00 61 40 00");  // the pointer
  Put(0x00401000, "b8 00 60 40 00");  // mov eax, $00406000
  EXPECT_EQ(At(0x00401000), "00401000   mov     eax, $00406000         ; 'Hello world'");
}

TEST_F(Annotations, BinaryDataAndOutsideAddressesAreNotAnnotated) {
  Put(0x00406000, "01 02 03 04 05 06 07 08");
  Put(0x00401000, "68 00 60 40 00");
  EXPECT_EQ(At(0x00401000), "00401000   push    $00406000");
  PutText(0x00406000, "a,.,.,.,.,.,b");  // punctuation outweighs the letters
  EXPECT_EQ(At(0x00401000), "00401000   push    $00406000");
  PutText(0x00406000, "abc");  // fewer than 4 characters
  EXPECT_EQ(At(0x00401000), "00401000   push    $00406000");
  PutText(0x0040FFC0, "near the end of the image");  // less than 100 bytes before the end
  Put(0x00401000, "68 c0 ff 40 00");
  EXPECT_EQ(At(0x00401000), "00401000   push    $0040ffc0");
  Put(0x00401000, "68 00 00 50 00");  // no module
  EXPECT_EQ(At(0x00401000), "00401000   push    $00500000");
}

TEST_F(Annotations, AConstantThatIsAFunctionGetsItsName) {
  symbols_.names[0x00402000] = "Unit1.Callback";
  Put(0x00401000, "68 00 20 40 00");
  EXPECT_EQ(At(0x00401000), "00401000   push    $00402000              ; Unit1.Callback");
}

}  // namespace
}  // namespace kestrix::decoder
