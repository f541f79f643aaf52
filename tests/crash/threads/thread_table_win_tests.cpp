// The thread registry in-process: names and titles of threads, the shared
// memory every copy of the library opens, the ids of this process.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "crash/threads/win/thread_table_win32.h"

namespace kestrix {
namespace {

TEST(ThreadTable, NamesAndTitlesOfThreads) {
  ASSERT_TRUE(OpenThreadTable());
  TThreadInfo info;
  ASSERT_TRUE(LookupThread(GetCurrentThreadId(), info));
  const DWORD id = 0x7FFF0001;  // no such thread
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

TEST(ThreadTable, ThreadIdsListThisProcessOnly) {
  const std::vector<DWORD> ids = ThreadIds();
  bool self = false;
  for (DWORD id : ids) self |= id == GetCurrentThreadId();
  EXPECT_TRUE(self);
}

}  // namespace
}  // namespace kestrix
