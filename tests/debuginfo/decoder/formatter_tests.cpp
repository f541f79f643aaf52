// The instruction line: mnemonic notations, operand forms, immediates,
// branches, "db" lines, and the name and string annotations.
#include <gtest/gtest.h>

#include <map>

#include "debuginfo/decoder/formatter.h"
#include "tests/debuginfo/decoder/test_bytes.h"

namespace kestrix::decoder {
namespace {

using testing::Bytes;
constexpr uint32_t kBase = 0x00401000;

std::string Line(const std::string& hex) {
  std::vector<uint8_t> bytes = Bytes(hex);
  BufferReader reader(bytes.data(), bytes.size(), kBase);
  TFormatContext context{&reader, nullptr};
  return FormatInstruction(kBase, context).text;
}

struct TextCase {
  const char* hex;
  const char* text;  // after "00401000   "
};

void ExpectLines(const TextCase* begin, const TextCase* end) {
  for (const TextCase* c = begin; c != end; ++c) {
    EXPECT_EQ(Line(c->hex), std::string("00401000   ") + c->text) << c->hex;
  }
}

TEST(Formatter, MnemonicNotations) {
  const TextCase cases[] = {
      {"0f 6f c1", "movq    mm0, mm1"},
      {"66 0f 6f c1", "movdqa  xmm0, xmm1"},
      {"f3 0f 6f 00", "movdqu  xmm0, [eax]"},
      {"0f 58 c1", "addps   xmm0, xmm1"},
      {"66 0f 58 c1", "addpd   xmm0, xmm1"},
      {"f2 0f 58 c1", "addsd   xmm0, xmm1"},
      {"f3 0f 58 c1", "addss   xmm0, xmm1"},
      {"0f 10 00", "movups  xmm0, [eax]"},
      {"66 0f 10 00", "movupd  xmm0, [eax]"},
      {"f2 0f 10 00", "movsd   xmm0, [eax]"},
      {"0f 12 c1", "movhlps xmm0, xmm1"},
      {"0f 12 00", "movlps  xmm0, [eax]"},
      {"f2 0f 12 c1", "movddup xmm0, xmm1"},
      {"98", "cwde"},
      {"66 98", "cbw"},
      {"74 05", "jz      +5 ($00401007)"},
      {"0f 4f c1", "cmovg   eax, ecx"},
      {"0f 92 c0", "setb    al"},
      {"06", "push    es"},
      {"1f", "pop     ds"},
      {"0f a1", "pop     fs"},
      {"0f a8", "push    gs"},
      {"cc", "int     3"},
      {"83 f0 01", "xor     eax, 1"},
      {"ff 30", "push    dword ptr [eax]"},
      {"c1 e8 04", "shr     eax, 4"},
      {"f6 d8", "neg     al"},
      {"f7 f9", "idiv    ecx"},
      {"d9 e1", "fabs"},
      {"d9 e8", "fld1"},
      {"de d9", "fcompp"},
      {"df e0", "fnstsw  ax"},
      {"d8 c1", "fadd    st, st(1)"},
      {"dc c1", "fadd    st(1), st"},
      {"de e9", "fsubp   st(1), st"},
      {"d9 c9", "fxch    st(1)"},
      {"dd 1c 24", "fstp    qword ptr [esp]"},
      {"db 28", "fld     tbyte ptr [eax]"},
      {"d9 7d fe", "fnstcw  word ptr [ebp-2]"},
      {"0f 0f c1 b4", "pfmul   mm0, mm1"},
      {"0f ae f8", "sfence"},
      {"0f ae 10", "ldmxcsr [eax]"},
      {"0f 01 f9", "rdtscp"},
      {"0f 00 c8", "str     eax"},
      {"66 0f 73 d8 04", "psrldq  xmm0, 4"},
      {"f3 90", "pause"},
      {"f3 0f bc c1", "tzcnt   eax, ecx"},
  };
  ExpectLines(std::begin(cases), std::end(cases));
}

TEST(Formatter, OperandsAndAddressing) {
  const TextCase cases[] = {
      {"8b 45 08", "mov     eax, [ebp+8]"},
      {"8b 45 f8", "mov     eax, [ebp-8]"},
      {"8b 45 7f", "mov     eax, [ebp+$7F]"},
      {"89 4d 80", "mov     [ebp-$80], ecx"},
      {"8b 04 24", "mov     eax, [esp]"},
      {"8b 44 8e 10", "mov     eax, [esi+ecx*4+$10]"},
      {"8b 04 0e", "mov     eax, [esi+ecx]"},
      {"8b 04 8d 00 10 40 00", "mov     eax, [ecx*4+$00401000]"},
      {"a1 00 20 40 00", "mov     eax, dword ptr [$00402000]"},
      {"64 a1 18 00 00 00", "mov     eax, dword ptr fs:[$00000018]"},
      {"a2 00 20 40 00", "mov     byte ptr [$00402000], al"},
      {"8b 05 00 20 40 00", "mov     eax, [$00402000]"},
      {"64 8b 0d 00 00 00 00", "mov     ecx, fs:[$00000000]"},
      {"67 8b 07", "mov     eax, [bx]"},
      {"67 8b 40 04", "mov     eax, [bx+si+4]"},
      {"67 8b 06 34 12", "mov     eax, [$1234]"},
      {"66 8b c1", "mov     ax, cx"},
      {"8a c4", "mov     al, ah"},
      {"0f b6 45 08", "movzx   eax, byte ptr [ebp+8]"},
      {"0f bf c1", "movsx   eax, cx"},
      {"8d 44 24 04", "lea     eax, [esp+4]"},
      {"87 ca", "xchg    edx, ecx"},
      {"93", "xchg    eax, ebx"},
      {"ec", "in      al, dx"},
      {"ef", "out     dx, eax"},
      {"e6 80", "out     $80, al"},
      {"e5 60", "in      eax, $60"},
      {"d1 e0", "shl     eax, 1"},
      {"d3 e8", "shr     eax, cl"},
      {"0f a5 c2", "shld    edx, eax, cl"},
      {"0f a4 c2 04", "shld    edx, eax, 4"},
      {"8c d8", "mov     eax, ds"},
      {"8e d8", "mov     ds, ax"},
      {"0f 20 c0", "mov     eax, cr0"},
      {"0f 23 f8", "mov     dr7, eax"},
      {"f0 0f b1 0a", "lock cmpxchg [edx], ecx"},
      {"f3 a5", "rep movsd"},
      {"f2 ae", "repne scasb"},
      {"f3 66 a5", "rep movsw"},
      {"0f 6e c0", "movd    mm0, eax"},
      {"66 0f 6e c0", "movd    xmm0, eax"},
      {"0f 7e c1", "movd    ecx, mm0"},
      {"0f c8", "bswap   eax"},
      {"0f cf", "bswap   edi"},
  };
  ExpectLines(std::begin(cases), std::end(cases));
}

TEST(Formatter, Immediates) {
  const TextCase cases[] = {
      {"b8 09 00 00 00", "mov     eax, 9"},
      {"b8 0a 00 00 00", "mov     eax, $0A"},
      {"b8 ff ff ff ff", "mov     eax, $FFFFFFFF"},
      {"66 b8 ff ff", "mov     ax, $FFFF"},
      {"b0 ff", "mov     al, $FF"},
      {"83 c4 f8", "add     esp, -8"},
      {"83 c4 0c", "add     esp, $0C"},
      {"81 ec 00 01 00 00", "sub     esp, $0100"},
      {"81 c1 00 ff ff ff", "add     ecx, -$0100"},
      {"80 f9 ff", "cmp     cl, -1"},
      {"6b c0 f0", "imul    eax, eax, -$10"},
      {"69 c0 10 27 00 00", "imul    eax, eax, $2710"},
      {"6a ff", "push    $FFFFFFFF"},
      {"6a 05", "push    5"},
      {"68 00 10 40 00", "push    $00401000"},
      {"c2 08 00", "ret     8"},
      {"c2 00 80", "ret     $8000"},
      {"c8 10 00 01", "enter   $10, 1"},
      {"d4 0a", "aam"},
      {"d5 10", "aad     $10"},
      {"9a 78 56 34 12 08 00", "call    8:$12345678"},
      {"cd 2e", "int     $2E"},
      {"f6 c1 01", "test    cl, 1"},
      {"c7 45 fc 00 00 00 00", "mov     dword ptr [ebp-4], 0"},
      {"c6 00 41", "mov     byte ptr [eax], $41"},
  };
  ExpectLines(std::begin(cases), std::end(cases));
}

TEST(Formatter, Branches) {
  const TextCase cases[] = {
      {"e8 fb ff ff ff", "call    -5 ($00401000)"},
      {"e9 00 01 00 00", "jmp     +$0100 ($00401105)"},
      {"eb fe", "jmp     -2 ($00401000)"},
      {"e2 fe", "loop    -2 ($00401000)"},
      {"0f 85 10 00 00 00", "jnz     +$10 ($00401016)"},
      {"ff d0", "call    eax"},
      {"ff 24 85 00 20 40 00", "jmp     dword ptr [eax*4+$00402000]"},
  };
  ExpectLines(std::begin(cases), std::end(cases));
}

TEST(Formatter, InvalidCodeIsADbLine) {
  EXPECT_EQ(Line("8d c0"), "00401000   db $8D");
  EXPECT_EQ(Line("ff ff"), "00401000   db $FF");
  EXPECT_EQ(Line("0f"), "00401000   db $0F");
  BufferReader empty(nullptr, 0, kBase);
  TFormatContext context{&empty, nullptr};
  TFormattedInstruction f = FormatInstruction(kBase, context);
  EXPECT_EQ(f.text, "00401000   db ??");
  EXPECT_EQ(f.info.end, kBase + 1);
}

TEST(Formatter, LongMnemonicsGetOneBlankBeforeOperands) {
  // "00401000   " + "lock cmpxchg" passes column 19.
  EXPECT_EQ(Line("f0 0f c7 0e"), "00401000   lock cmpxchg8b qword ptr [esi]");
  EXPECT_EQ(Line("0f 18 00"), "00401000   prefetchnta byte ptr [eax]");
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
  EXPECT_EQ(At(0x00401000), "00401000   call    +$0FFB ($00402000)     ; Unit1.TForm1.Button1Click");
}

TEST_F(Annotations, ImportThunksAreNamedByWhatTheyLeadTo) {
  symbols_.names[0x7C801234] = "GetTickCount";
  Put(0x00403000, "ff 25 00 50 40 00");  // jmp [$00405000]
  Put(0x00405000, "34 12 80 7c");
  Put(0x00401000, "e8 fb 1f 00 00");  // call $00403000, the thunk
  EXPECT_EQ(At(0x00401000), "00401000   call    +$1FFB ($00403000)     ; GetTickCount (kernel32.dll)");
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
  EXPECT_EQ(At(0x00401000), "00401000   push    $0040FFC0");
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
