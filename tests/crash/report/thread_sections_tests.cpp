// The report's threads from a snapshot: which are listed and in which order,
// their section titles, and the creator marks.
#include <gtest/gtest.h>

#include "crash/report/thread_sections.h"
#include "tests/crash/report/fake_snapshot.h"

namespace kestrix {
namespace {

constexpr uint32_t kMain = 0x10, kCrashed = 0x20, kWorker = 0x30, kOwn = 0x40;

TThreadListing Listing() {
  TThreadListing l;
  l.mainThreadId = kMain;
  l.exceptionThreadId = kCrashed;
  l.isLibraryThread = [](uint32_t id) { return id == kOwn; };
  return l;
}

TEST(ThreadSections, TheCrashedThreadComesFirstThenTheMainThreadThenTheOthersAsTheSystemListsThem) {
  const std::vector<uint32_t> system = {kWorker, kOwn, kMain, kCrashed, 0x50};
  TThreadListing l = Listing();
  EXPECT_EQ(ThreadsToList(system, l), (std::vector<uint32_t>{kCrashed, kMain, kWorker, 0x50}));
  l.listOwnThreads = true;
  EXPECT_EQ(ThreadsToList(system, l), (std::vector<uint32_t>{kCrashed, kMain, kWorker, kOwn, 0x50}));
  l.listThreads = false;
  EXPECT_EQ(ThreadsToList(system, l), (std::vector<uint32_t>{kCrashed, kMain}));
  // A freeze is the main thread's; a crash in the main thread lists it once.
  l = Listing();
  l.freeze = true;
  EXPECT_EQ(ThreadsToList(system, l), (std::vector<uint32_t>{kMain, kWorker, kCrashed, 0x50}));
  l = Listing();
  l.exceptionThreadId = kMain;
  EXPECT_EQ(ThreadsToList({kMain, kWorker}, l), (std::vector<uint32_t>{kMain, kWorker}));
}

TEST(ThreadSections, TitlesComeFromTheRegistryEntryAndTheSystemsFacts) {
  TSnapshotThread t;
  t.id = 0x1a4;
  EXPECT_EQ(ThreadSectionTitle(nullptr, 0x1a4, false, false), "thread $1a4:");
  EXPECT_EQ(ThreadSectionTitle(&t, 0x1a4, false, false), "thread $1a4:");
  t.className = "TWorker";
  EXPECT_EQ(ThreadSectionTitle(&t, 0x1a4, false, false), "thread $1a4 (TWorker):");
  t.registered = true;
  t.name = "main thread";
  t.suspended = true;
  t.priority = 2;
  EXPECT_EQ(ThreadSectionTitle(&t, 0x1a4, true, false), "main thread ($1a4): <suspended> <priority:2>");
  // The library's own threads ("-") only when they crashed or are asked for.
  t = TSnapshotThread{};
  t.registered = true;
  t.name = "-";
  EXPECT_EQ(ThreadSectionTitle(&t, 0x1a4, false, false), "");
  EXPECT_EQ(ThreadSectionTitle(&t, 0x1a4, true, false), "thread $1a4:");
  EXPECT_EQ(ThreadSectionTitle(&t, 0x1a4, false, true), "- ($1a4):");
}

TEST(ThreadSections, ListedThreadsCarryTheirFactsAndCreatorsAreNamedFromTheSnapshot) {
  TFakeSnapshot snapshot;
  TSnapshotThread& main = snapshot.Add(kMain);
  main.registered = true;
  main.name = "main thread";
  snapshot.Add(kCrashed).creatorThreadId = kMain;
  TSnapshotThread& hidden = snapshot.Add(kOwn);
  hidden.registered = true;
  hidden.name = "-";
  TSnapshotThread& gone = snapshot.Add(0x60);
  gone.registered = true;
  gone.name = "loader";

  const std::vector<TListedThread> listed = ListReportThreads(snapshot, {kCrashed, kMain, kOwn, 0x99}, Listing());
  ASSERT_EQ(listed.size(), 3u);
  EXPECT_TRUE(listed[0].crashed);
  EXPECT_EQ(listed[0].facts->creatorThreadId, kMain);
  EXPECT_EQ(listed[1].title, "main thread ($10):");
  EXPECT_EQ(listed[2].title, "thread $99:");  // not in the snapshot: no facts
  EXPECT_EQ(listed[2].facts, nullptr);

  EXPECT_EQ(CreatorTitle(snapshot, 0x60), "loader ($60):");
  EXPECT_EQ(CreatorTitle(snapshot, 0x70), "thread $70:");

  std::string section = "0040100a +000a lab.exe lab 12 Run\r\n00401500 +0010 lab.exe lab 40 StartWorker";
  MarkCreator(section, "main thread ($10):");
  EXPECT_EQ(section,
            "0040100a +000a lab.exe lab 12 Run\r\n>> created by main thread ($10): at:\r\n"
            "00401500 +0010 lab.exe lab 40 StartWorker");
  std::string note = ">> stack not accessible\r\n00401500 creator";
  MarkCreator(note, "x");
  EXPECT_EQ(note, ">> stack not accessible\r\n00401500 creator");
}

TEST(ProcessSnapshot, FindsThreadsAndTheModuleHoldingAnAddress) {
  TFakeSnapshot snapshot;
  snapshot.Add(7);
  snapshot.modules.push_back({0x400000, 0x1000, "C:\\lab.exe"});
  snapshot.modules.push_back({0x10000000, 0x20000, "C:\\lib.dll"});
  EXPECT_EQ(FindSnapshotThread(snapshot, 7)->id, 7u);
  EXPECT_EQ(FindSnapshotThread(snapshot, 8), nullptr);
  EXPECT_EQ(FindSnapshotModule(snapshot, 0x400fff)->path, "C:\\lab.exe");
  EXPECT_EQ(FindSnapshotModule(snapshot, 0x401000), nullptr);
  EXPECT_EQ(FindSnapshotModule(snapshot, 0x1001ffff)->path, "C:\\lib.dll");
}

}  // namespace
}  // namespace kestrix
