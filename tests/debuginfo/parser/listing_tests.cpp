// The disassembly listing: entry label, labels and separators in formatted
// mode, case tables, the crash marker, the line-number column and the line
// limit.
#include <gtest/gtest.h>

#include <map>

#include "debuginfo/parser/disassembly_listing.h"
#include "tests/debuginfo/parser/code_builder.h"

namespace kestrix::parser {
namespace {

using testing::CodeBuilder;
constexpr uint32_t kBase = 0x00401000;

class Names final : public decoder::SymbolSource {
 public:
  bool ModuleOf(uint32_t a, decoder::TModuleRange* out) const override {
    *out = {0x00400000, 0x00500000, true, "quorrin.exe"};
    return a >= 0x00400000 && a < 0x00500000;
  }
  std::string NameAt(uint32_t a) const override {
    auto it = names.find(a);
    return it == names.end() ? std::string() : it->second;
  }
  std::map<uint32_t, std::string> names;
};

// Line 100 + the offset from kBase / 4.
class Lines final : public LineSource {
 public:
  int LineAt(uint32_t a) const override { return a >= kBase ? 100 + static_cast<int>((a - kBase) / 4) : 0; }
};

class Listing : public ::testing::Test {
 protected:
  std::string List(CodeBuilder& c, uint32_t crash, bool formatted, int limit, bool lines = false) {
    bytes_ = c.Finish();
    reader_ = std::make_unique<decoder::BufferReader>(bytes_.data(), bytes_.size(), kBase);
    TListingContext context;
    context.parse.reader = reader_.get();
    context.symbols = &names_;
    context.lines = lines ? &lines_ : nullptr;
    return DisassembleFunction(c.At("entry"), crash, formatted, limit, context).text;
  }
  std::vector<uint8_t> bytes_;
  std::unique_ptr<decoder::BufferReader> reader_;
  Names names_;
  Lines lines_;
};

TEST_F(Listing, PlainListingWithEntryLabelAndCrashMarker) {
  CodeBuilder c(kBase);
  c.Label("entry").Hex("55 8b ec 85 c0 74").Rel8("done").Hex("40").Label("done").Hex("5d c3");
  names_.names[kBase] = "Unit1.Foo";
  EXPECT_EQ(List(c, kBase + 7, false, 0),
            "00401000 public Unit1.Foo:                ; function entry point\r\n"
            "00401000   push    ebp\r\n"
            "00401001   mov     ebp, esp\r\n"
            "00401003   test    eax, eax\r\n"
            "00401005   jz      loc_401008\r\n"
            "00401007 > inc     eax\r\n"
            "00401008   pop     ebp\r\n"
            "00401009   ret");
}

TEST_F(Listing, FormattedListingHasLabelsBlanksAndSeparators) {
  CodeBuilder c(kBase);
  c.Label("entry").Hex("85 c0 74").Rel8("done").Hex("e8 00 00 50 00").Hex("c3").Label("done").Hex("31 c0 c3");
  const std::string text = List(c, 0, true, 0);
  EXPECT_EQ(text,
            "00401000 sub_401000:                      ; function entry point\r\n"
            "00401000   test    eax, eax\r\n"
            "00401002   jz      loc_40100a\r\n"
            "00401004\r\n"
            "00401004   call    +$00500000 ($00901009)\r\n"
            "00401009\r\n"
            "00401009   ret\r\n"
            "0040100a\r\n"
            "0040100a ; ---------------------------------------------------------\r\n"
            "0040100a\r\n"
            "0040100a loc_40100a:\r\n"
            "0040100a   xor     eax, eax\r\n"
            "0040100c   ret");
}

TEST_F(Listing, CaseTableLines) {
  CodeBuilder c(kBase);
  c.Label("entry").Hex("83 f8 01 77").Rel8("default").Hex("ff 24 85").Abs32("table")
      .Label("table").Abs32("c0").Abs32("c1")
      .Label("c0").Hex("c3").Label("c1").Hex("c3").Label("default").Hex("c3");
  const std::string text = List(c, 0, false, 0);
  EXPECT_NE(text.find("0040100c   dd loc_401014                  ; case jump table\r\n"
                      "00401010   dd loc_401015\r\n"),
            std::string::npos)
      << text;
}

TEST_F(Listing, LineNumberColumn) {
  CodeBuilder c(kBase);
  c.Label("entry").Hex("90 90 90 90 90 c3");
  // Lines: 100 for the first four bytes, 101 for the rest; width 3.
  EXPECT_EQ(List(c, 0, false, 0, true),
            "00401000     sub_401000:                      ; function entry point\r\n"
            "00401000 100   nop\r\n"
            "00401001       nop\r\n"
            "00401002       nop\r\n"
            "00401003       nop\r\n"
            "00401004 101   nop\r\n"
            "00401005       ret");
}

TEST_F(Listing, LimitAroundTheCrashLine) {
  CodeBuilder c(kBase);
  c.Label("entry").Fill(100, 0x90).Hex("c3");
  const std::string text = List(c, kBase + 50, false, 10);
  std::vector<std::string> lines;
  for (size_t at = 0; at <= text.size();) {
    size_t end = text.find("\r\n", at);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(at, end - at));
    at = end + 2;
  }
  ASSERT_EQ(lines.size(), 1u + 11 + 1 + 10 + 1);
  EXPECT_EQ(lines.front(), "[...]");
  EXPECT_EQ(lines.back(), "[...]");
  EXPECT_EQ(lines[12], "00401032 > nop");
  EXPECT_EQ(lines[1], "00401027   nop");
  // The whole function: no cut.
  const std::string whole = List(c, kBase + 50, false, 0);
  EXPECT_EQ(whole.find("[...]"), std::string::npos);
  // A crash near the start: nothing cut before it.
  const std::string early = List(c, kBase + 5, false, 10);
  EXPECT_EQ(early.rfind("00401000 sub_401000:", 0), 0u);
}

TEST_F(Listing, AFailedParseGivesNoText) {
  CodeBuilder c(kBase);
  c.Label("entry").Hex("8d c0");
  EXPECT_EQ(List(c, 0, false, 0), "");
}

}  // namespace
}  // namespace kestrix::parser
