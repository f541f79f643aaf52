// The minidump reader over dumps made by hand: every stream it knows read
// back, memory read across ranges, and truncated or damaged files refused
// with a message, never read past their end; where a dump goes beside its
// report.
#include <gtest/gtest.h>

#include <cstring>

#include "crash/dump/dump_file.h"
#include "crash/dump/minidump_format.h"
#include "crash/dump/minidump_patch.h"
#include "crash/dump/minidump_reader.h"
#include "tests/crash/dump/minidump_builder.h"

namespace kestrix {
namespace {

using testing::TMinidumpBuilder;

TMinidumpBuilder TwoThreads() {
  TMinidumpBuilder b;
  std::vector<uint8_t> stack1(64), stack2(32);
  for (size_t i = 0; i < stack1.size(); ++i) stack1[i] = static_cast<uint8_t>(i);
  for (size_t i = 0; i < stack2.size(); ++i) stack2[i] = static_cast<uint8_t>(0x80 + i);
  b.threads = {{0x20, 0x401234, 0x12ff00, 0x12ff20, 0x12ff00, stack1},
               {0x24, 0x7bc01000, 0x22ff80, 0x22ffa0, 0x22ff80, stack2}};
  b.modules = {{0x400000, 0x20000, u"Z:\\lab\\crashlab.exe", 0x00010002, 0x00030004},
               {0x7b600000, 0x100000, u"C:\\windows\\system32\\kernel32.dll"}};
  b.exceptionThread = 0x20;
  b.exceptionAddress = 0x401234;
  b.exceptionEip = 0x401234;
  b.exceptionEsp = 0x12ff04;
  b.comment = "date/time : today\r\nexception class : EAccessViolation\r\n";
  b.memory = {{0x12ff40, std::vector<uint8_t>(16, 0xcc)}};
  return b;
}

TEST(MinidumpReader, ReadsThreadsModulesExceptionMemoryAndComment) {
  TMinidump dump;
  std::string error;
  ASSERT_TRUE(dump.Load(TwoThreads().Build(), &error)) << error;
  ASSERT_EQ(dump.Threads().size(), 2u);
  const TSnapshotThread& t = dump.Threads()[0];
  EXPECT_EQ(t.id, 0x20u);
  ASSERT_TRUE(t.haveRegisters);
  EXPECT_EQ(t.registers.eip, 0x401234u);
  EXPECT_EQ(t.registers.esp, 0x12ff00u);
  EXPECT_EQ(t.registers.ebp, 0x12ff20u);
  EXPECT_EQ(t.registers.eax, 0xeaeaeaeau);
  EXPECT_EQ(t.registers.cs, 0x23);
  EXPECT_EQ(t.stackLimit, 0x12ff00u);
  EXPECT_EQ(t.stackBase, 0x12ff40u);

  ASSERT_EQ(dump.Modules().size(), 2u);
  EXPECT_EQ(dump.Modules()[0].path, "Z:\\lab\\crashlab.exe");
  EXPECT_EQ(dump.Modules()[0].versionMS, 0x00010002u);
  EXPECT_EQ(dump.Modules()[1].versionMS, 0u);  // no version block
  EXPECT_EQ(FindSnapshotModule(dump, 0x7b650000)->base, 0x7b600000u);

  ASSERT_NE(dump.Exception(), nullptr);
  EXPECT_EQ(dump.Exception()->code, 0xc0000005u);
  EXPECT_EQ(dump.Exception()->threadId, 0x20u);
  EXPECT_EQ(dump.Exception()->parameters, (std::vector<uint32_t>{0, 0x10}));
  EXPECT_EQ(dump.Exception()->registers.esp, 0x12ff04u);
  EXPECT_EQ(dump.Comment(), TwoThreads().comment);

  // The stack listed twice (thread and memory list) is one range; reads run
  // across adjacent ranges and stop at a gap.
  EXPECT_EQ(dump.MemoryRanges().size(), 3u);
  EXPECT_EQ(dump.CapturedBytes(), 64u + 32u + 16u);
  uint8_t bytes[8];
  ASSERT_TRUE(dump.ReadMemory(0x12ff3c, bytes, 8));  // last 4 of the stack, first 4 of the extra
  EXPECT_EQ(bytes[0], 60);
  EXPECT_EQ(bytes[4], 0xcc);
  EXPECT_FALSE(dump.ReadMemory(0x12ff4c, bytes, 8));  // runs past the extra memory
  EXPECT_FALSE(dump.ReadMemory(0x1000, bytes, 1));

  std::vector<uint32_t> types;
  for (const TMinidump::TStream& s : dump.Streams()) types.push_back(s.type);
  EXPECT_EQ(types, (std::vector<uint32_t>{minidump::kSystemInfoStream, minidump::kThreadListStream,
                                          minidump::kModuleListStream, minidump::kMemoryListStream,
                                          minidump::kExceptionStream, minidump::kCommentStreamA}));
}

TEST(MinidumpReader, RefusesEveryTruncationWithAMessage) {
  const std::vector<uint8_t> whole = TwoThreads().Build();
  // Streams lie before the directory, which is last: any shorter file loses
  // part of the directory or of a stream it names.
  for (size_t n = 0; n < whole.size(); ++n) {
    TMinidump dump;
    std::string error;
    EXPECT_FALSE(dump.Load(std::vector<uint8_t>(whole.begin(), whole.begin() + n), &error)) << n;
    EXPECT_FALSE(error.empty()) << n;
  }
}

TEST(MinidumpReader, RefusesDamagedCountsOffsetsAndForeignDumps) {
  const std::vector<uint8_t> whole = TwoThreads().Build();
  const uint32_t directory = whole[12] | (whole[13] << 8) | (whole[14] << 16) | (whole[15] << 24);
  auto damaged = [&](auto change) {
    std::vector<uint8_t> copy = whole;
    change(copy);
    TMinidump dump;
    std::string error;
    EXPECT_FALSE(dump.Load(copy, &error));
    return error;
  };
  EXPECT_NE(damaged([](auto& f) { f[0] = 'X'; }).find("signature"), std::string::npos);
  EXPECT_NE(damaged([](auto& f) { TMinidumpBuilder::Put32(f, 8, 0x10000000); }).find("directory"),
            std::string::npos);
  // The thread list (second directory entry) claims a million threads.
  const uint32_t threads = whole[directory + 12 + 8] | (whole[directory + 12 + 9] << 8);
  EXPECT_NE(damaged([&](auto& f) { TMinidumpBuilder::Put32(f, threads, 1000000); }).find("ThreadListStream"),
            std::string::npos);
  // A thread context far outside the file.
  EXPECT_NE(damaged([&](auto& f) { TMinidumpBuilder::Put32(f, threads + 4 + 44, 0xfffffff0); }).find("context"),
            std::string::npos);
  // A module name length running past the end.
  const uint32_t modules = whole[directory + 24 + 8] | (whole[directory + 24 + 9] << 8);
  const uint32_t name = whole[modules + 4 + 20] | (whole[modules + 4 + 21] << 8);
  EXPECT_NE(damaged([&](auto& f) { TMinidumpBuilder::Put32(f, name, 0x7ffffffe); }).find("module name"),
            std::string::npos);
  // A stack that would wrap around 4 GB.
  EXPECT_NE(damaged([&](auto& f) { TMinidumpBuilder::Put32(f, threads + 4 + 24, 0xfffffff0); }).find("4 GB"),
            std::string::npos);

  TMinidumpBuilder x64 = TwoThreads();
  x64.architecture = 9;
  TMinidump dump;
  std::string error;
  EXPECT_FALSE(dump.Load(x64.Build(), &error));
  EXPECT_NE(error.find("32-bit x86"), std::string::npos) << error;
}

// The edits applied to a copy of the file, as the writer applies them.
std::vector<uint8_t> Mend(std::vector<uint8_t> file, const TExceptionThreadFix& fix) {
  const std::vector<uint8_t> original = file;
  const TDumpFileRead read = [&](uint64_t offset, void* buffer, size_t size) {
    if (offset + size > original.size()) return false;
    std::memcpy(buffer, original.data() + offset, size);
    return true;
  };
  std::vector<TDumpFileEdit> edits;
  std::string error;
  EXPECT_TRUE(PlanExceptionThreadFix(read, original.size(), fix, &edits, &error)) << error;
  for (const TDumpFileEdit& e : edits) {
    if (file.size() < e.offset + e.bytes.size()) file.resize(e.offset + e.bytes.size());
    std::copy(e.bytes.begin(), e.bytes.end(), file.begin() + e.offset);
  }
  return file;
}

// A dump as dbghelp writes it from a thread of its own: the exception's
// thread with the context it waits in, the writer thread with the
// exception's context and a stack of its own.
TMinidumpBuilder WrittenFromAnotherThread() {
  TMinidumpBuilder b = TwoThreads();
  b.threads[0].eip = 0x7bc0c51c;  // waiting in the system
  b.threads.push_back({0x30, 0x401234, 0x12ff04, 0, 0x500000, std::vector<uint8_t>(256, 0x55)});
  return b;
}

TEST(MinidumpPatch, TheExceptionThreadGetsItsContextAndTheWriterLeaves) {
  TExceptionThreadFix fix;
  fix.exceptionThreadId = 0x20;
  fix.writerThreadId = 0x30;
  const std::vector<uint8_t> mended = Mend(WrittenFromAnotherThread().Build(), fix);
  TMinidump dump;
  std::string error;
  ASSERT_TRUE(dump.Load(mended, &error)) << error;
  ASSERT_EQ(dump.Threads().size(), 2u);
  EXPECT_EQ(FindSnapshotThread(dump, 0x30), nullptr);
  const TSnapshotThread* t = FindSnapshotThread(dump, 0x20);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->registers.eip, 0x401234u);
  EXPECT_EQ(t->registers.esp, 0x12ff04u);
  // The writer's stack is no memory of the process any more.
  uint8_t byte;
  EXPECT_FALSE(dump.ReadMemory(0x500000, &byte, 1));
  EXPECT_EQ(dump.CapturedBytes(), 64u + 32u + 16u);
}

TEST(MinidumpPatch, TheStackCopyReplacesWhatWasWrittenOverOrBecomesTheStack) {
  // Inside the thread's captured stack: written over in place.
  TExceptionThreadFix fix;
  fix.exceptionThreadId = 0x20;
  fix.stackAddress = 0x12ff10;
  fix.stack = {0xde, 0xad, 0xbe, 0xef};
  const std::vector<uint8_t> original = WrittenFromAnotherThread().Build();
  std::vector<uint8_t> mended = Mend(original, fix);
  EXPECT_EQ(mended.size(), original.size());
  TMinidump dump;
  std::string error;
  ASSERT_TRUE(dump.Load(mended, &error)) << error;
  uint8_t bytes[6];
  ASSERT_TRUE(dump.ReadMemory(0x12ff0f, bytes, 6));
  EXPECT_EQ(bytes[0], 0x0f);  // before the copy: as captured
  EXPECT_EQ(bytes[1], 0xde);
  EXPECT_EQ(bytes[4], 0xef);
  EXPECT_EQ(bytes[5], 0x14);  // after it

  // Below the captured stack (a crash reported from another stack): the
  // copy becomes the thread's stack and a range of the memory list.
  fix.stackAddress = 0x120000;
  fix.stack.assign(40, 0x77);
  mended = Mend(original, fix);
  ASSERT_TRUE(dump.Load(mended, &error)) << error;
  const TSnapshotThread* t = FindSnapshotThread(dump, 0x20);
  EXPECT_EQ(t->stackLimit, 0x120000u);
  EXPECT_EQ(t->stackBase, 0x120028u);
  ASSERT_TRUE(dump.ReadMemory(0x120024, bytes, 4));
  EXPECT_EQ(bytes[3], 0x77);
  EXPECT_TRUE(dump.ReadMemory(0x12ff00, bytes, 4));  // the old range stays memory of the process
}

TEST(MinidumpPatch, MemoryThatStacksPointIntoIsAddedFromTheProcess) {
  TMinidumpBuilder b = WrittenFromAnotherThread();
  for (auto& t : b.threads) std::fill(t.stack.begin(), t.stack.end(), 0);
  // The second thread's stack points at 0x500010 (nowhere in the dump), at
  // its own stack and into the extra memory (both in the dump already).
  for (int i = 0; i < 4; ++i) b.threads[1].stack[i] = static_cast<uint8_t>(0x00500010 >> (8 * i));
  for (int i = 0; i < 4; ++i) b.threads[1].stack[4 + i] = static_cast<uint8_t>(0x0022ff84 >> (8 * i));
  for (int i = 0; i < 4; ++i) b.threads[1].stack[8 + i] = static_cast<uint8_t>(0x0012ff44 >> (8 * i));
  TExceptionThreadFix fix;
  fix.exceptionThreadId = 0x20;
  fix.writerThreadId = 0x30;
  std::vector<std::pair<uint64_t, size_t>> asked;
  fix.readProcess = [&](uint64_t address, void* buffer, size_t size) {
    asked.push_back({address, size});
    std::memset(buffer, 0x5a, size);
    return true;
  };
  TMinidump dump;
  std::string error;
  ASSERT_TRUE(dump.Load(Mend(b.Build(), fix), &error)) << error;
  // From 64 bytes before the value (its page's start here) to 192 after it.
  EXPECT_EQ(asked, (std::vector<std::pair<uint64_t, size_t>>{{0x500000, 0xd0}}));
  uint8_t bytes[0xd0];
  ASSERT_TRUE(dump.ReadMemory(0x500000, bytes, sizeof bytes));
  EXPECT_EQ(bytes[0x10], 0x5a);
  EXPECT_FALSE(dump.ReadMemory(0x5000d0, bytes, 1));
  EXPECT_EQ(dump.CapturedBytes(), 64u + 32u + 16u + 0xd0u);
}

TEST(DumpFile, KindPathAndWhetherARepeatWritesIt) {
  EXPECT_EQ(DumpKindOf(0), dkNone);
  EXPECT_EQ(DumpKindOf(2), dkReferenced);
  EXPECT_EQ(DumpKindOf(3), dkFull);
  EXPECT_EQ(DumpKindOf(4), dkNone);
  EXPECT_EQ(DumpKindOf(-1), dkNone);

  EXPECT_EQ(DumpPathBeside("C:\\reports\\bugreport.txt"), "C:\\reports\\bugreport.dmp");
  EXPECT_EQ(DumpPathBeside("bugreport"), "bugreport.dmp");
  EXPECT_EQ(DumpPathBeside("C:\\my.reports\\bugreport"), "C:\\my.reports\\bugreport.dmp");
  EXPECT_EQ(DumpPathBeside("/tmp/x.y/a.b.txt"), "/tmp/x.y/a.b.dmp");
  EXPECT_EQ(DumpPathBeside("C:\\r\\.txt"), "C:\\r\\.txt.dmp");

  EXPECT_TRUE(DumpWantedBeside(1, true));   // a new report replaces an older crash's dump
  EXPECT_FALSE(DumpWantedBeside(2, true));  // a counted repeat keeps its first dump
  EXPECT_TRUE(DumpWantedBeside(3, false));  // ... unless it is gone
  EXPECT_EQ(DumpFailureText("dbghelp.dll could not be loaded"), "not written: dbghelp.dll could not be loaded");
}

}  // namespace
}  // namespace kestrix
