// The thread registry in-process: names and titles of threads, the shared
// memory every copy of the library opens, the ids of this process.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <vector>

#include "crash/threads/win/thread_table_win32.h"
#include "tests/helpers/win/parked_thread.h"

namespace kestrix {
namespace {

TEST(ThreadTable, NamesAndTitlesOfThreads) {
  ASSERT_TRUE(OpenThreadTable());
  TThreadInfo info;
  ASSERT_TRUE(LookupThread(GetCurrentThreadId(), info));
  testhelpers::TParkedThread worker;
  const DWORD id = worker.Id();
  RecordThreadInfo(id, nullptr, "worker", 5, 0x401000, "TWorker");
  ASSERT_TRUE(LookupThread(id, info));
  EXPECT_TRUE(info.registered);
  EXPECT_EQ(info.name, "worker");
  EXPECT_EQ(info.className, "TWorker");
  EXPECT_EQ(info.creatorAddress, 0x401000u);
  EXPECT_EQ(info.creatorThreadId, 5u);
  AssignThreadName(id, "renamed");
  ASSERT_TRUE(LookupThread(id, info));
  EXPECT_EQ(info.name, "renamed");
  EXPECT_EQ(info.className, "TWorker") << "renaming keeps the class";
  UnregisterThread(id);
  ASSERT_TRUE(LookupThread(id, info));
  EXPECT_FALSE(info.registered);
  // The registry is the shared memory every copy of the library opens.
  char name[64];
  snprintf(name, sizeof name, "KestrixThreadNameBuf$%lx", GetCurrentProcessId());
  HANDLE map = OpenFileMappingA(FILE_MAP_READ, FALSE, name);
  EXPECT_TRUE(map != nullptr);
  if (map) CloseHandle(map);
}

TEST(ThreadTable, EntriesWithoutAHandleAreOpenedByIdAndEndedOnesPassNothingOn) {
  ASSERT_TRUE(OpenThreadTable());
  TThreadInfo info;
  // A thread that cannot be opened (it ended) is not registered.
  testhelpers::TParkedThread gone;
  const DWORD goneId = gone.Id();
  gone.End();
  RecordThreadInfo(goneId, nullptr, "ghost", 0, 0, "");
  ASSERT_TRUE(LookupThread(goneId, info));
  EXPECT_FALSE(info.registered);

  // Named without a handle: opened by id, so its end purges the name.
  auto named = std::make_unique<testhelpers::TParkedThread>();
  const DWORD namedId = named->Id();
  AssignThreadName(namedId, "short lived");
  ASSERT_TRUE(LookupThread(namedId, info));
  EXPECT_EQ(info.name, "short lived");
  named.reset();
  testhelpers::TParkedThread other;
  AssignThreadName(other.Id(), "next");  // each registration purges one ended entry
  AssignThreadName(other.Id(), "next again");
  ASSERT_TRUE(LookupThread(namedId, info));
  EXPECT_FALSE(info.registered) << "the ended thread's name was purged";

  // An id in use again: the entry of the thread that ended under it gives
  // the new thread neither its name nor its creator.
  testhelpers::TParkedThread reused, earlier;
  // (The earlier thread's handle stands for the one of the thread that had
  // the id before.)
  RecordThreadInfo(reused.Id(), OpenThread(SYNCHRONIZE | THREAD_QUERY_INFORMATION, FALSE, earlier.Id()), "old name",
                   9, 0x402000, "TOld");
  earlier.End();
  RecordThreadInfo(reused.Id(), nullptr, "", 7, 0x403000, "TNew");
  ASSERT_TRUE(LookupThread(reused.Id(), info));
  EXPECT_TRUE(info.registered);
  EXPECT_EQ(info.name, "");
  EXPECT_EQ(info.className, "TNew");
  EXPECT_EQ(info.creatorThreadId, 7u);
  UnregisterThread(reused.Id());
  UnregisterThread(other.Id());
}

TEST(ThreadTable, ThreadIdsListThisProcessOnly) {
  const std::vector<DWORD> ids = ThreadIds();
  bool self = false;
  for (DWORD id : ids) self |= id == GetCurrentThreadId();
  EXPECT_TRUE(self);
}

}  // namespace
}  // namespace kestrix
