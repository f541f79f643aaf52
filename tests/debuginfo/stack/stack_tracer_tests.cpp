// The stack tracer over hand-built code and stacks: the chain through a
// function without a frame pointer, stale return addresses between anchored
// entries, recursion blocks, snapshots, the "after a call" check and the
// output rules.
#include <gtest/gtest.h>

#include "debuginfo/stack/stack_memory.h"
#include "debuginfo/stack/stack_output.h"
#include "debuginfo/stack/stack_tracer.h"
#include "tests/debuginfo/stack/fake_process.h"

namespace kestrix::stack {
namespace {

using parser::testing::CodeBuilder;
using testing::FakeProcess;
using testing::kCodeBase;

// start -> main -> A (no frame pointer) -> B -> C (faults at its entry);
// D calls C too but is not on the stack.
struct ChainProgram {
  CodeBuilder code{kCodeBase};
  ChainProgram() {
    code.Fill(16, 0xCC);  // code never starts the readable memory
    code.Label("start").Label("call_main").Hex("E8").Rel32("main").Label("ret_start").Hex("C3");
    code.Label("main").Hex("55 89 E5").Label("call_A").Hex("E8").Rel32("A").Label("ret_main").Hex("5D C3");
    code.Label("A").Hex("83 EC 10").Label("call_B").Hex("E8").Rel32("B").Label("ret_A").Hex("83 C4 10 C3");
    code.Label("B").Hex("55 89 E5").Label("call_C").Hex("E8").Rel32("C").Label("ret_B").Hex("5D C3");
    code.Label("D").Hex("55 89 E5").Label("call_C2").Hex("E8").Rel32("C").Label("ret_D").Hex("5D C3");
    code.Label("C").Hex("A1 00 00 00 00").Hex("C3");
    code.Finish();
  }
  uint32_t at(const char* label) const { return code.At(label); }
  std::unique_ptr<FakeProcess> Process(std::vector<uint32_t> words) {
    auto p = std::make_unique<FakeProcess>(code.Finish(), std::move(words));
    int line = 10;
    for (const char* f : {"start", "main", "A", "B", "D", "C"}) {
      p->AddPublic(at(f), f);
      p->AddLine(at(f), line);
      line += 10;
    }
    // The call lines: one below each function's first line.
    for (const char* c : {"call_main", "call_A", "call_B", "call_C", "call_C2"}) p->AddLine(at(c), 0);
    p->AddLine(at("call_main"), 11);
    p->AddLine(at("call_A"), 21);
    p->AddLine(at("call_B"), 31);
    p->AddLine(at("call_C"), 41);
    p->AddLine(at("call_C2"), 51);
    p->AddLine(at("ret_start"), 12);
    p->AddLine(at("ret_main"), 22);
    p->AddLine(at("ret_A"), 32);
    p->AddLine(at("ret_B"), 42);
    p->AddLine(at("ret_D"), 52);
    return p;
  }
  // The stack at the fault in C: B's frame, A's locals holding a stale
  // return address into D, main's frame, start's return address.
  std::vector<uint32_t> FaultStack() const {
    const uint32_t s = testing::kStackBase;
    return {at("ret_B"), s + 8 * 4, at("ret_A"), 0x11111111, at("ret_D"), 0x22222222,
            0x33333333,  at("ret_main"), 0,      at("ret_start"), 0};
  }
};

std::vector<std::string> Functions(const TTraceResult& r) {
  std::vector<std::string> names;
  for (const TStackItem& item : r.items) names.push_back(item.function);
  return names;
}

TTraceInput FaultInput(const FakeProcess& p, const ChainProgram& prog) {
  TTraceInput in;
  in.currentAddress = prog.at("C");
  in.isException = true;
  in.isExternal = true;
  in.bottom = p.StackAddress(0);
  in.top = p.StackEnd();
  in.framePointer = p.StackAddress(1);
  return in;
}

TEST(StackTracer, FindsTheCallerWithoutFramePointerAndDropsStaleAddresses) {
  ChainProgram prog;
  auto p = prog.Process(prog.FaultStack());
  TStackTracer tracer;
  const TTraceResult r = tracer.TraceStack(*p, FaultInput(*p, prog));
  EXPECT_EQ(Functions(r), (std::vector<std::string>{"C", "B", "A", "main", "start"})) << r.text.text;
  ASSERT_EQ(r.items.size(), 5u);
  // Each caller is shown at its call instruction, with that line.
  EXPECT_EQ(r.items[0].address, prog.at("C"));
  EXPECT_EQ(r.items[1].address, prog.at("call_C"));
  EXPECT_EQ(r.items[2].address, prog.at("call_B"));
  EXPECT_EQ(r.items[3].address, prog.at("call_A"));
  EXPECT_EQ(r.items[4].address, prog.at("call_main"));
  EXPECT_EQ(r.items[1].line, 41);
  EXPECT_EQ(r.items[1].relLine, 1);
  EXPECT_EQ(r.items[1].relAddr, prog.at("call_C") - prog.at("B"));
  EXPECT_EQ(r.crashAddress, prog.at("C"));
  EXPECT_EQ(r.text.functionEntry, prog.at("C"));
  EXPECT_TRUE(r.text.hasLines);
  EXPECT_TRUE(r.programCode);
  // The text is the composed one of these entries.
  EXPECT_NE(r.text.text.find("prog.exe prog 41 +1 B"), std::string::npos) << r.text.text;
  EXPECT_EQ(r.text.printed, 5);
}

TEST(StackTracer, SnapshotTakenAtTheExceptionGivesTheSameChain) {
  ChainProgram prog;
  auto p = prog.Process(prog.FaultStack());
  TTraceInput in = FaultInput(*p, prog);
  const std::vector<TPreStackItem> snap =
      TStackTracer::PrepareStackSnapshot(*p, in.framePointer, in.top, in.bottom, true, in.currentAddress);
  // ret_start and ret_A on the frame chain; ret_main, ret_D and ret_B by
  // their calls; from the top of the stack down.
  ASSERT_EQ(snap.size(), 5u);
  EXPECT_EQ(snap[0].address, prog.at("ret_start"));
  EXPECT_EQ(snap[0].frameChain, 1);
  EXPECT_EQ(snap[1].address, prog.at("ret_main"));
  EXPECT_EQ(snap[1].frameChain, 0);
  EXPECT_EQ(snap[3].address, prog.at("ret_A"));
  EXPECT_EQ(snap[3].frameChain, 1);
  in.snapshot = &snap;
  TStackTracer tracer;
  const TTraceResult r = tracer.TraceStack(*p, in);
  EXPECT_EQ(Functions(r), (std::vector<std::string>{"C", "B", "A", "main", "start"})) << r.text.text;
}

TEST(StackTracer, TablesPersistAcrossTraces) {
  ChainProgram prog;
  auto p = prog.Process(prog.FaultStack());
  TStackTracer tracer;
  tracer.TraceStack(*p, FaultInput(*p, prog));
  const size_t functions = tracer.FunctionTable().size();
  const int queries = p->moduleQueries;
  EXPECT_EQ(tracer.ModuleTable().size(), 1u);
  const TTraceResult again = tracer.TraceStack(*p, FaultInput(*p, prog));
  EXPECT_EQ(tracer.FunctionTable().size(), functions);
  EXPECT_EQ(p->moduleQueries, queries);
  EXPECT_EQ(again.items.size(), 5u);
  tracer.Clear();
  EXPECT_TRUE(tracer.FunctionTable().empty());
}

TEST(StackTracer, WithoutPlausibleValuesOnlyTheTopAndTheCreatorRemain) {
  ChainProgram prog;
  auto p = prog.Process({0x11111111, 0, 0x22222222, 0x33333333});
  TTraceInput in = FaultInput(*p, prog);
  in.framePointer = 0;
  TStackTracer tracer;
  TTraceResult r = tracer.TraceStack(*p, in);
  EXPECT_EQ(Functions(r), (std::vector<std::string>{"C"}));
  EXPECT_EQ(r.text.text.find("\r\n"), std::string::npos);
  in.creator = prog.at("ret_start");
  r = tracer.TraceStack(*p, in);
  EXPECT_EQ(Functions(r), (std::vector<std::string>{"C", "start"})) << r.text.text;
}

TEST(StackTracer, UnreadableStackGivesNothing) {
  ChainProgram prog;
  auto p = prog.Process({0});
  TTraceInput in = FaultInput(*p, prog);
  in.bottom = 0x20000000;
  in.top = 0x20001000;
  TStackTracer tracer;
  const TTraceResult r = tracer.TraceStack(*p, in);
  EXPECT_TRUE(r.text.text.empty());
  EXPECT_TRUE(r.items.empty());
}

TEST(StackTracer, FinallyExitReturnIsNeverAnEntry) {
  ChainProgram prog;
  auto p = prog.Process(prog.FaultStack());
  p->finallyReturn = prog.at("ret_main");
  TStackTracer tracer;
  const TTraceResult r = tracer.TraceStack(*p, FaultInput(*p, prog));
  for (const TInternalStackItem& e : r.entries) EXPECT_NE(e.address, prog.at("ret_main"));
}

TEST(StackTracer, AbortEndsTheTraceWithoutOutput) {
  ChainProgram prog;
  auto p = prog.Process(prog.FaultStack());
  TTraceInput in = FaultInput(*p, prog);
  std::atomic<bool> abort{true};
  in.abort = &abort;
  TStackTracer tracer;
  const TTraceResult r = tracer.TraceStack(*p, in);
  EXPECT_TRUE(r.items.empty());
}

TEST(StackTracer, ProgressRunsToTheEnd) {
  ChainProgram prog;
  auto p = prog.Process(prog.FaultStack());
  TTraceInput in = FaultInput(*p, prog);
  std::vector<int> seen;
  in.progress = [&](int v) { seen.push_back(v); };
  TStackTracer tracer;
  tracer.TraceStack(*p, in);
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.back(), 1000);
  for (size_t i = 1; i < seen.size(); ++i) EXPECT_LE(seen[i - 1], seen[i]);
}

TEST(StackTracer, HideUglyItemsDropsEntriesWithoutLinesButKeepsTheTop) {
  ChainProgram prog;
  auto p = prog.Process(prog.FaultStack());
  p->withMap = false;  // names from the exports, no lines
  p->mainModule = 0;   // as a system module: its exports name the functions
  TTraceInput in = FaultInput(*p, prog);
  in.hideUglyItems = true;
  TStackTracer tracer;
  TTraceResult r = tracer.TraceStack(*p, in);
  EXPECT_EQ(r.items.size(), 1u) << r.text.text;
  EXPECT_FALSE(r.text.hasLines);
  in.hideUglyItems = false;
  TStackTracer again;
  r = again.TraceStack(*p, in);
  EXPECT_EQ(Functions(r), (std::vector<std::string>{"C", "B", "A", "main", "start"})) << r.text.text;
  EXPECT_FALSE(r.programCode);
}

// R calls itself: three return addresses into R collapse to one.
TEST(StackTracer, RecursionBlocksCollapse) {
  CodeBuilder code{kCodeBase};
  code.Fill(16, 0xCC);
  code.Label("start").Hex("E8").Rel32("main").Label("ret_start").Hex("C3");
  code.Label("main").Hex("E8").Rel32("R").Label("ret_main").Hex("C3");
  code.Label("R").Hex("85 C9 74").Rel8("done").Hex("49 E8").Rel32("R").Label("ret_R").Hex("C3");
  code.Label("done").Label("fault").Hex("A1 00 00 00 00 C3");
  code.Finish();
  FakeProcess p(code.Finish(), {code.At("ret_R"), code.At("ret_R"), code.At("ret_R"), code.At("ret_main"),
                                code.At("ret_start"), 0});
  p.AddPublic(code.At("start"), "start");
  p.AddPublic(code.At("main"), "main");
  p.AddPublic(code.At("R"), "R");
  p.AddLine(code.At("start"), 1);
  TTraceInput in;
  in.currentAddress = code.At("fault");
  in.isException = in.isExternal = true;
  in.bottom = p.StackAddress(0);
  in.top = p.StackEnd();
  TStackTracer tracer;
  const TTraceResult r = tracer.TraceStack(p, in);
  EXPECT_EQ(Functions(r), (std::vector<std::string>{"R", "R", "main", "start"})) << r.text.text;
}

TEST(StackTracer, IsAfterCallKnowsTheCallEncodings) {
  auto check = [](const std::string& hex) {
    CodeBuilder code{kCodeBase};
    code.Hex("90 90 90 90 90 90 90 90").Hex(hex);
    const std::vector<uint8_t>& bytes = code.Finish();
    decoder::BufferReader reader(bytes.data(), bytes.size(), kCodeBase);
    return TStackTracer::IsAfterCall(reader, kCodeBase + static_cast<uint32_t>(bytes.size()));
  };
  EXPECT_TRUE(check("E8 00 00 00 00"));        // call rel32
  EXPECT_TRUE(check("FF D0"));                 // call eax
  EXPECT_TRUE(check("FF 15 00 10 40 00"));     // call [mem]
  EXPECT_TRUE(check("FF 55 08"));              // call [ebp+8]
  EXPECT_TRUE(check("FF 54 24 04"));           // call [esp+4]
  EXPECT_TRUE(check("FF 1D 00 10 40 00"));     // call far [mem]
  EXPECT_TRUE(check("9A 00 00 00 00 08 00"));  // call far ptr
  EXPECT_FALSE(check("89 E5"));                // mov ebp, esp
  EXPECT_FALSE(check("FF E0"));                // jmp eax
  EXPECT_FALSE(check("90 90 90 90 90 90"));
  // Too near the start of readable memory.
  const uint8_t few[4] = {0xE8, 0, 0, 0};
  decoder::BufferReader reader(few, sizeof few, kCodeBase);
  EXPECT_FALSE(TStackTracer::IsAfterCall(reader, kCodeBase + 4));
}

TEST(StackTracer, FrameChainSlotsStopAtAFrameThatDoesNotRise) {
  const uint32_t s = testing::kStackBase;
  // frame at s+8 -> s+24 -> s+16 (falls: the chain ends)
  std::vector<uint32_t> words = {0, 0, s + 24, 0x401000, s + 8, 0x401001, s + 16, 0x401002, 0};
  FakeProcess p({0x90}, words);
  const std::vector<uint32_t> slots = FrameChainSlots(p, s + 8, s, p.StackEnd());
  EXPECT_EQ(slots, (std::vector<uint32_t>{s + 12, s + 28}));
  EXPECT_TRUE(FrameChainSlots(p, 0, s, p.StackEnd()).empty());
}

TEST(StackCopyReader, TheCopyWinsWhereItHoldsTheAddress) {
  const uint8_t live[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  decoder::BufferReader base(live, sizeof live, 0x1000);
  StackCopyReader copy(base, 0x1004, {0xAA, 0xBB});
  uint8_t out[8];
  ASSERT_TRUE(copy.Read(0x1000, out, 8));
  EXPECT_EQ(out[3], 4);
  EXPECT_EQ(out[4], 0xAA);
  EXPECT_EQ(out[5], 0xBB);
  EXPECT_EQ(out[6], 7);
  EXPECT_FALSE(copy.Read(0x1006, out, 4));
}

TEST(StackOutput, FormatCodeLocationOfTheEnvironment) {
  ChainProgram prog;
  auto p = prog.Process({0});
  EXPECT_EQ(FormatCodeLocation(*p, prog.at("call_C"), true, true),
            [&] {
              char buf[64];
              std::snprintf(buf, sizeof buf, "%08x +%x prog.exe prog 41 +1 B", prog.at("call_C"),
                            prog.at("call_C") - prog.at("B"));
              return std::string(buf);
            }());
  EXPECT_EQ(FormatCodeLocation(*p, 0x30000000, true, true), "30000000 +0 ???");
  EXPECT_EQ(FormatCodeLocation(*p, 0x30000000, false, false), "30000000 ???");
}

}  // namespace
}  // namespace kestrix::stack
