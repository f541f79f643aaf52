// The thread registry's creation by several copies of the library at once.
// Each test needs a process whose registry does not exist yet: CTest runs
// them one per process (this program has no settings, so its start-up
// leaves the registry alone).
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>

#include "crash/threads/win/thread_table_win32.h"
#include "tests/helpers/wait.h"
#include "tests/helpers/win/parked_thread.h"

namespace kestrix {
namespace {

// The registry's 20 bytes as every copy of the library lays them out.
struct TTableImage {
  HANDLE watchdogMutex;
  HANDLE listMutex;
  void* head;
  LONG users;
  HANDLE mapping;
};

std::string ProcessName(const char* prefix) {
  char name[64];
  std::snprintf(name, sizeof name, "%s$%lx", prefix, GetCurrentProcessId());
  return name;
}

std::string NameOf(DWORD id) {
  TThreadInfo info;
  return LookupThread(id, info, INFINITE) && info.registered ? info.name : std::string();
}

TEST(ThreadTableCreation, AnOpeningCopyWaitsUntilTheCreatorHasFilledItIn) {
  // This test plays a copy that has just created the registry and holds the
  // creation lock while it fills it in.
  HANDLE lock = CreateMutexA(nullptr, TRUE, ProcessName("KestrixThreadNameMtx").c_str());
  ASSERT_TRUE(lock);
  ASSERT_NE(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS)) << "run this test in a process of its own";
  HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(TTableImage),
                                      ProcessName("KestrixThreadNameBuf").c_str());
  ASSERT_TRUE(mapping);
  auto* table = static_cast<TTableImage*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(TTableImage)));
  ASSERT_TRUE(table);

  std::atomic<int> opened{-1};
  std::thread opener([&] { opened = OpenThreadTable() ? 1 : 0; });
  Sleep(300);  // the time in which the opener must not get through
  EXPECT_EQ(opened, -1) << "opened a registry that was not filled in yet";
  table->watchdogMutex = CreateMutexA(nullptr, FALSE, nullptr);
  table->listMutex = CreateMutexA(nullptr, FALSE, nullptr);
  table->mapping = mapping;
  table->users = 1;
  ReleaseMutex(lock);
  opener.join();
  ASSERT_EQ(opened, 1);
  EXPECT_EQ(table->users, 2);
  EXPECT_EQ(NameOf(GetCurrentThreadId()), "") << "only the creator registers a main thread";
  testhelpers::TParkedThread seen;
  RecordThreadInfo(seen.Id(), nullptr, "seen", 0, 0, "");
  EXPECT_NE(table->head, nullptr) << "entries go into the shared list";
  EXPECT_EQ(NameOf(seen.Id()), "seen");
  CloseHandle(lock);
}

template <class F>
F Proc(HMODULE module, const char* name) {
  return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

TEST(ThreadTableCreation, TwoCopiesStartingTogetherShareOneRegistry) {
  HANDLE existing = OpenFileMappingA(FILE_MAP_READ, FALSE, ProcessName("KestrixThreadNameBuf").c_str());
  ASSERT_FALSE(existing) << "run this test in a process of its own";
  HMODULE copy = LoadLibraryA("kestrix_copy.dll");
  ASSERT_TRUE(copy);
  auto copyOpen = Proc<BOOL (*)()>(copy, "KxCopyOpenThreadTable");
  auto copyName = Proc<void (*)(DWORD, const char*)>(copy, "KxCopyNameThread");
  auto copyLookup = Proc<void (*)(DWORD, char*, int)>(copy, "KxCopyThreadName");
  ASSERT_TRUE(copyOpen && copyName && copyLookup);

  // The racers stay until the end: the registry forgets threads that ended.
  HANDLE go = CreateEventA(nullptr, TRUE, FALSE, nullptr), done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::atomic<bool> mine{false}, theirs{false};
  std::atomic<int> waiting{0};
  DWORD mineId = 0, theirsId = 0;
  std::thread a([&] {
    mineId = GetCurrentThreadId();
    ++waiting;
    WaitForSingleObject(go, INFINITE);
    mine = OpenThreadTable();
    ++waiting;
    WaitForSingleObject(done, INFINITE);
  });
  std::thread b([&] {
    theirsId = GetCurrentThreadId();
    ++waiting;
    WaitForSingleObject(go, INFINITE);
    theirs = copyOpen() != FALSE;
    ++waiting;
    WaitForSingleObject(done, INFINITE);
  });
  testhelpers::WaitUntil([&] { return waiting == 2; }, 5000);  // both at the start line
  SetEvent(go);
  testhelpers::WaitUntil([&] { return waiting == 4; }, 5000);  // both opened
  EXPECT_TRUE(mine);
  EXPECT_TRUE(theirs);
  // One registry: what one copy records, the other reads.
  testhelpers::TParkedThread first, second;
  RecordThreadInfo(first.Id(), nullptr, "from the program", 0, 0, "");
  char buffer[64];
  copyLookup(first.Id(), buffer, sizeof buffer);
  EXPECT_STREQ(buffer, "from the program");
  copyName(second.Id(), "from the copy");
  EXPECT_EQ(NameOf(second.Id()), "from the copy");
  // Created once: one of the two racing threads became the main thread.
  const int mains = (NameOf(mineId) == "main thread") + (NameOf(theirsId) == "main thread");
  EXPECT_EQ(mains, 1);
  copyLookup(mineId, buffer, sizeof buffer);
  EXPECT_EQ(std::string(buffer), NameOf(mineId));
  SetEvent(done);
  a.join();
  b.join();
  CloseHandle(go);
  CloseHandle(done);
}

}  // namespace
}  // namespace kestrix
