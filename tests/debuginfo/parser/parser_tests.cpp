// The function parser: areas, case tables, exception constructs, targets,
// interceptability and errors, over code built in a buffer.
#include <gtest/gtest.h>

#include <set>

#include "debuginfo/parser/address_correction.h"
#include "debuginfo/parser/function_parser.h"
#include "tests/debuginfo/parser/code_builder.h"

namespace kestrix::parser {
namespace {

using testing::CodeBuilder;
constexpr uint32_t kBase = 0x00401000;
// Runtime routines outside the buffer, as in another unit.
constexpr uint32_t kHandleAnyException = 0x00480000;
constexpr uint32_t kHandleFinally = 0x00480100;
constexpr uint32_t kHandleOnException = 0x00480200;
constexpr uint32_t kHalt0 = 0x00480300;

class BufferEnvironment final : public CodeEnvironment {
 public:
  BufferEnvironment(uint32_t begin, uint32_t end) : begin_(begin), end_(end) {}
  bool IsCommitted(uint32_t a) const override { return a >= begin_ && a < end_; }
  bool CodeRange(uint32_t, uint32_t* b, uint32_t* e) const override {
    *b = begin_;
    *e = 0x00490000;  // the runtime's unit lies in the module's code too
    return true;
  }
  bool IsNamedExport(uint32_t a) const override { return exports.count(a) != 0; }
  std::string SystemErrorText(uint32_t e) const override { return e == 87 ? "The parameter is incorrect." : ""; }
  std::set<uint32_t> exports;

 private:
  uint32_t begin_, end_;
};

class Parse : public ::testing::Test {
 protected:
  TFunctionInfo Run(CodeBuilder& code, const std::string& entry = "entry") {
    bytes_ = code.Finish();
    reader_ = std::make_unique<decoder::BufferReader>(bytes_.data(), bytes_.size(), kBase);
    env_ = std::make_unique<BufferEnvironment>(kBase, kBase + static_cast<uint32_t>(bytes_.size()));
    TParseContext context;
    context.reader = reader_.get();
    context.environment = env_.get();
    context.routines.handleAnyException = kHandleAnyException;
    context.routines.handleFinally = kHandleFinally;
    context.routines.handleOnException = kHandleOnException;
    context.routines.halt0 = kHalt0;
    return ParseFunctionCode(code.At(entry), context);
  }
  static bool HasArea(const TFunctionInfo& f, uint32_t begin) {
    for (const TCodeArea& a : f.CodeAreas) {
      if (a.begin == begin) return true;
    }
    return false;
  }
  static const TCodeArea* Area(const TFunctionInfo& f, uint32_t begin) {
    for (const TCodeArea& a : f.CodeAreas) {
      if (a.begin == begin) return &a;
    }
    return nullptr;
  }
  std::vector<uint8_t> bytes_;
  std::unique_ptr<decoder::BufferReader> reader_;
  std::unique_ptr<BufferEnvironment> env_;
};

TEST_F(Parse, StraightCodeIsOneArea) {
  CodeBuilder c(kBase);
  c.Label("entry").Hex("55 8b ec 83 ec 08 8b 45 08 03 45 0c 8b e5 5d c3").Hex("cc cc cc cc");
  TFunctionInfo f = Run(c);
  ASSERT_TRUE(f.isValid);
  ASSERT_EQ(f.CodeAreas.size(), 1u);
  EXPECT_EQ(f.codeBegin, kBase);
  EXPECT_EQ(f.codeLength, 16u);
  EXPECT_EQ(f.CodeAreas[0].end, kBase + 15);
  EXPECT_TRUE(f.interceptable);
  EXPECT_EQ(f.copySize, 16u + 4);
  EXPECT_TRUE(f.reserved);
}

TEST_F(Parse, BranchesOpenAreasAndLoopsSplitThem) {
  CodeBuilder c(kBase);
  c.Label("entry").Hex("31 c0")          // xor eax, eax
      .Label("loop").Hex("40")           // inc eax
      .Hex("83 f8 0a 7c").Rel8("loop")   // cmp eax, 10; jl loop
      .Hex("85 c0 74").Rel8("zero")      // test eax, eax; jz zero
      .Hex("c3")
      .Hex("cc cc")                      // never reached
      .Label("zero").Hex("33 c0 c3");
  TFunctionInfo f = Run(c);
  ASSERT_TRUE(f.isValid) << f.lastErrorText;
  EXPECT_TRUE(HasArea(f, c.At("loop")));  // the loop's head splits the first area
  EXPECT_EQ(Area(f, c.At("entry"))->end, c.At("loop") - 1);
  EXPECT_EQ(Area(f, c.At("loop"))->reachedFrom, c.At("loop") + 4);
  EXPECT_TRUE(HasArea(f, c.At("zero")));
  EXPECT_EQ(f.codeLength, c.At("zero") + 3 - kBase);
  EXPECT_TRUE(f.KnownTargets.empty());
}

TEST_F(Parse, CaseJumpTable) {
  CodeBuilder c(kBase);
  c.Label("entry").Hex("83 f8 03 77").Rel8("default")  // cmp eax, 3; ja default
      .Hex("ff 24 85").Abs32("table")                   // jmp [eax*4+table]
      .Label("table").Abs32("c0").Abs32("c1").Abs32("c1").Abs32("c3")
      .Label("c0").Hex("b0 01 c3")
      .Label("c1").Hex("b0 02 c3")
      .Label("c3").Hex("b0 03 c3")
      .Label("default").Hex("31 c0 c3");
  TFunctionInfo f = Run(c);
  ASSERT_TRUE(f.isValid) << f.lastErrorText << " at " << std::hex << f.lastErrorAddress;
  const TCodeArea* table = Area(f, c.At("table"));
  ASSERT_NE(table, nullptr);
  EXPECT_TRUE(table->caseTable);
  EXPECT_EQ(table->end - table->begin + 1, 16u);  // (3 + 1) entries
  for (const char* name : {"c0", "c1", "c3"}) {
    const TCodeArea* a = Area(f, c.At(name));
    ASSERT_NE(a, nullptr) << name;
    EXPECT_EQ(a->reachedFrom, c.At("table") - 7) << name;
  }
  EXPECT_EQ(f.CodeAreas.size(), 6u);  // entry, table, c0, c1, c3, default
  EXPECT_TRUE(f.UnknownTargets.empty());
}

TEST_F(Parse, TryFinallyExitCodeIsPartOfTheFunction) {
  CodeBuilder c(kBase);
  c.Define("HandleFinally", kHandleFinally);
  c.Label("entry").Hex("31 c0 55 68").Abs32("handler")  // xor eax, eax; push ebp; push handler
      .Hex("64 ff 30 64 89 20")                           // push fs:[eax]; mov fs:[eax], esp
      .Hex("90")                                          // the protected code
      .Hex("31 c0 5a 59 59 64 89 10 68").Abs32("exit")    // unwind; push exit
      .Label("finally").Hex("90 c3")                      // the finally code
      .Label("handler").Hex("e9").Rel32("HandleFinally")
      .Hex("eb").Rel8("finally")
      .Label("exit").Hex("5d c3");
  TFunctionInfo f = Run(c);
  ASSERT_TRUE(f.isValid) << f.lastErrorText << " at " << std::hex << f.lastErrorAddress;
  EXPECT_TRUE(HasArea(f, c.At("handler")));
  EXPECT_TRUE(HasArea(f, c.At("handler") + 5));
  EXPECT_TRUE(HasArea(f, c.At("exit")));
  ASSERT_EQ(f.KnownTargets.size(), 1u);
  EXPECT_EQ(f.KnownTargets[0].target, kHandleFinally);
  EXPECT_FALSE(f.KnownTargets[0].isCall);
}

TEST_F(Parse, OnDoExceptionTable) {
  CodeBuilder c(kBase);
  c.Define("HandleOnException", kHandleOnException);
  c.Label("entry").Hex("c3")
      .Label("handler").Hex("e9").Rel32("HandleOnException")
      .Label("table").Dword(2).Dword(0x00470000).Abs32("onE").Dword(0).Abs32("onElse")
      .Label("onE").Hex("33 c0 c3")
      .Label("onElse").Hex("c3");
  TFunctionInfo f = Run(c, "handler");
  ASSERT_TRUE(f.isValid) << f.lastErrorText;
  const TCodeArea* table = Area(f, c.At("table"));
  ASSERT_NE(table, nullptr);
  EXPECT_TRUE(table->exceptionTable);
  EXPECT_EQ(table->end - table->begin + 1, 2u * 8 + 4);
  EXPECT_TRUE(HasArea(f, c.At("onE")));
  EXPECT_TRUE(HasArea(f, c.At("onElse")));
}

TEST_F(Parse, TryExceptCodeAfterTheHandlerCall) {
  CodeBuilder c(kBase);
  c.Define("HandleAnyException", kHandleAnyException);
  c.Label("entry").Hex("e9").Rel32("HandleAnyException").Label("after").Hex("31 c0 c3");
  TFunctionInfo f = Run(c);
  ASSERT_TRUE(f.isValid);
  EXPECT_TRUE(HasArea(f, c.At("after")));
}

TEST_F(Parse, CallsAreRecordedAndHaltEndsTheArea) {
  CodeBuilder c(kBase);
  c.Define("Halt0", kHalt0);
  c.Define("outside", 0x00500000);
  c.Label("entry").Hex("e8").Rel32("outside")  // an ordinary call: recorded, code goes on
      .Hex("e8").Rel32("Halt0")                // nothing follows
      .Hex("ff ff");                           // invalid, never reached
  TFunctionInfo f = Run(c);
  ASSERT_TRUE(f.isValid);
  ASSERT_EQ(f.KnownTargets.size(), 2u);
  EXPECT_TRUE(f.KnownTargets[0].isCall && f.KnownTargets[0].isRelative);
  EXPECT_EQ(f.KnownTargets[0].after, kBase + 5);
  EXPECT_EQ(f.codeLength, 10u);
}

TEST_F(Parse, JumpStubsAreRecordedByTheirTarget) {
  CodeBuilder c(kBase);
  c.Define("import", 0x7C801234);
  c.Label("entry").Hex("e8").Rel32("stub").Hex("c3")
      .Label("stub").Hex("ff 25").Abs32("slot")
      .Label("slot").Dword(0x7C801234);
  TFunctionInfo f = Run(c);
  ASSERT_TRUE(f.isValid);
  ASSERT_EQ(f.KnownTargets.size(), 1u);
  EXPECT_EQ(f.KnownTargets[0].target, 0x7C801234u);
  // A stub that is a named export stays itself.
  CodeBuilder d(kBase);
  d.Label("entry").Hex("e8").Rel32("stub").Hex("c3").Label("stub").Hex("ff 25").Abs32("slot").Label("slot").Dword(
      0x7C801234);
  bytes_ = d.Finish();
  reader_ = std::make_unique<decoder::BufferReader>(bytes_.data(), bytes_.size(), kBase);
  BufferEnvironment env(kBase, kBase + static_cast<uint32_t>(bytes_.size()));
  env.exports.insert(d.At("stub"));
  TParseContext context{reader_.get(), &env, {}};
  TFunctionInfo g = ParseFunctionCode(kBase, context);
  ASSERT_EQ(g.KnownTargets.size(), 1u);
  EXPECT_EQ(g.KnownTargets[0].target, d.At("stub"));
}

TEST_F(Parse, RegisterTargetsAndPointerCopies) {
  CodeBuilder c(kBase);
  c.Label("entry").Hex("b8 00 00 50 00")  // mov eax, $00500000: the state changes, a new area
      .Hex("ff d0")                       // call eax: resolved
      .Hex("ff d1")                       // call ecx: unknown
      .Hex("ff 15").Abs32("slot")         // call [slot]: through a pointer
      .Hex("c3")
      .Label("slot").Dword(0x00600000);
  TFunctionInfo f = Run(c);
  ASSERT_TRUE(f.isValid);
  EXPECT_TRUE(HasArea(f, kBase + 5));
  ASSERT_EQ(f.KnownTargets.size(), 2u);
  EXPECT_EQ(f.KnownTargets[0].target, 0x00500000u);
  EXPECT_EQ(f.KnownTargets[1].target, 0x00600000u);
  EXPECT_NE(f.KnownTargets[1].pointerField, 0u);
  ASSERT_EQ(f.UnknownTargets.size(), 1u);
  EXPECT_EQ(f.UnknownTargets[0].instruction, kBase + 7);
  EXPECT_EQ(f.copySize, f.codeLength + 4 + 4);  // one target through a pointer
}

TEST_F(Parse, InterceptableNeedsSixSafeBytes) {
  CodeBuilder c(kBase);
  c.Label("entry").Hex("31 c9 e2 fe c3");  // loop in the first bytes
  EXPECT_FALSE(Run(c).interceptable);
  CodeBuilder d(kBase);
  d.Label("entry").Hex("31 c0 c3");  // 3 bytes only
  EXPECT_FALSE(Run(d).interceptable);
  CodeBuilder e(kBase);
  e.Label("entry").Hex("55 ff d0 5d c3 90");  // call eax, unknown
  EXPECT_FALSE(Run(e).interceptable);
  CodeBuilder g(kBase);
  g.Label("entry").Hex("55 8b ec 31 c0 5d c3");
  EXPECT_TRUE(Run(g).interceptable);
}

TEST_F(Parse, InvalidCodeAndUncommittedMemory) {
  CodeBuilder c(kBase);
  c.Label("entry").Hex("31 c0 8d c0 c3");  // lea eax, eax
  TFunctionInfo f = Run(c);
  EXPECT_FALSE(f.isValid);
  EXPECT_EQ(f.lastErrorNumber, kErrorInvalidCode);
  EXPECT_EQ(f.lastErrorText, "Invalid code!");
  EXPECT_EQ(f.lastErrorAddress, kBase + 3);

  CodeBuilder d(kBase);
  d.Label("entry").Hex("c3");
  d.Define("nowhere", 0x00700000);
  TFunctionInfo g = Run(d, "nowhere");
  EXPECT_FALSE(g.isValid);
  EXPECT_EQ(g.lastErrorNumber, kErrorInvalidParameter);
  EXPECT_EQ(g.lastErrorText, "The parameter is incorrect.");
}

TEST_F(Parse, UnknownJumpsLetTheGapBeParsed) {
  // jmp eax to code after the return: found by parsing the gap.
  CodeBuilder c(kBase);
  c.Label("entry").Hex("85 c0 74").Rel8("end")
      .Hex("ff e0")                     // jmp eax, unknown
      .Label("gap").Hex("40 40 eb").Rel8("end")
      .Label("end").Hex("c3");
  TFunctionInfo f = Run(c);
  ASSERT_TRUE(f.isValid);
  EXPECT_TRUE(HasArea(f, c.At("gap")));
  EXPECT_EQ(f.codeLength, c.At("end") + 1 - kBase);
}

TEST_F(Parse, ExceptionAddressCorrection) {
  CodeBuilder c(kBase);
  c.Label("entry").Hex("8b 45 08 8b 00 c3");  // mov eax, [ebp+8]; mov eax, [eax]; ret
  Run(c);
  TParseContext context{reader_.get(), env_.get(), {}};
  // Inside the first instruction, with an instruction 4 bytes further: moved.
  EXPECT_EQ(CorrectExceptionAddress(kBase + 1, kBase, context), kBase + 5);
  // An instruction boundary stays.
  EXPECT_EQ(CorrectExceptionAddress(kBase + 3, kBase, context), kBase + 3);
  // No boundary 4 bytes further either (past the return): stays.
  EXPECT_EQ(CorrectExceptionAddress(kBase + 2, kBase, context), kBase + 2);
  // An unknown function: stays.
  EXPECT_EQ(CorrectExceptionAddress(kBase + 1, 0, context), kBase + 1);
}

}  // namespace
}  // namespace kestrix::parser
