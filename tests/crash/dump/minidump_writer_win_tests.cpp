// The minidump writer in-process under Wine: a real dump of this process
// read back, and writers that fail, hang or fault, which cost the dump and
// nothing else.
#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>
#include <iterator>

#include "crash/dump/minidump_reader.h"
#include "crash/dump/win/minidump_writer_win32.h"

namespace kestrix {
namespace {

std::string TempPath(const char* name) {
  char folder[MAX_PATH];
  GetTempPathA(MAX_PATH, folder);
  return std::string(folder) + name;
}

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool LoadDump(const std::string& path, TMinidump& dump, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return dump.Load(std::move(bytes), &error);
}

TMinidumpRequest RequestFor(const std::string& path) {
  TMinidumpRequest r;
  r.path = path;
  r.kind = dkStacks;
  r.threadId = GetCurrentThreadId();
  r.record.ExceptionCode = 0xe0001234;
  r.record.ExceptionAddress = reinterpret_cast<void*>(&RequestFor);
  r.context.ContextFlags = CONTEXT_FULL;
  RtlCaptureContext(&r.context);
  r.context.Eip = reinterpret_cast<DWORD>(&RequestFor);
  r.comment = "date/time : now\r\nexception class : ETest\r\n";
  return r;
}

TEST(MinidumpWriter, WritesThisProcessWithTheExceptionAndTheComment) {
  const std::string path = TempPath("kx_writer_test.dmp");
  const TMinidumpRequest r = RequestFor(path);
  std::string failure;
  ASSERT_TRUE(WriteMinidump(r, &failure)) << failure;
  TMinidump dump;
  std::string error;
  ASSERT_TRUE(LoadDump(path, dump, error)) << error;
  ASSERT_NE(dump.Exception(), nullptr);
  EXPECT_EQ(dump.Exception()->code, 0xe0001234u);
  EXPECT_EQ(dump.Exception()->threadId, GetCurrentThreadId());
  EXPECT_EQ(dump.Exception()->address, reinterpret_cast<uint32_t>(&RequestFor));
  EXPECT_EQ(dump.Exception()->registers.eip, reinterpret_cast<uint32_t>(&RequestFor));
  EXPECT_EQ(dump.Exception()->registers.esp, r.context.Esp);
  EXPECT_EQ(dump.Comment(), r.comment);
  EXPECT_NE(FindSnapshotThread(dump, GetCurrentThreadId()), nullptr);
  const TSnapshotModule* exe = FindSnapshotModule(dump, reinterpret_cast<uint32_t>(&RequestFor));
  ASSERT_NE(exe, nullptr);
  EXPECT_NE(exe->path.find("crash_dump_tests.exe"), std::string::npos) << exe->path;
  EXPECT_EQ(exe->base, reinterpret_cast<uint32_t>(GetModuleHandleA(nullptr)));
  DeleteFileA(path.c_str());
}

BOOL WINAPI DiskFullWriter(HANDLE, DWORD, HANDLE, DWORD, void*, void*, void*) {
  SetLastError(ERROR_DISK_FULL);
  return FALSE;
}

HANDLE g_release = nullptr;
BOOL WINAPI HangingWriter(HANDLE, DWORD, HANDLE, DWORD, void*, void*, void*) {
  WaitForSingleObject(g_release, INFINITE);
  return TRUE;
}

BOOL WINAPI RaisingWriter(HANDLE, DWORD, HANDLE, DWORD, void*, void*, void*) {
  ULONG_PTR info[2] = {0, 8};
  RaiseException(EXCEPTION_ACCESS_VIOLATION, 0, 2, info);
  return TRUE;
}

BOOL WINAPI NullWritingWriter(HANDLE, DWORD, HANDLE, DWORD, void*, void*, void*) {
  *static_cast<volatile int*>(nullptr) = 1;
  return TRUE;
}

TEST(MinidumpWriter, AFailingWriterCostsTheDumpWithTheReason) {
  const std::string path = TempPath("kx_writer_fails.dmp");
  TMinidumpRequest r = RequestFor(path);
  std::string failure;
  r.writer = DiskFullWriter;
  EXPECT_FALSE(WriteMinidump(r, &failure));
  EXPECT_NE(failure.find("MiniDumpWriteDump failed"), std::string::npos) << failure;
  EXPECT_NE(failure.find("error 112"), std::string::npos) << failure;
  EXPECT_FALSE(Exists(path));

  // Faults the writer does not handle itself: in system code (raised) and
  // in the program's own code (converted to a C++ exception).
  for (TMiniDumpWriter writer : {RaisingWriter, NullWritingWriter}) {
    r.writer = writer;
    failure.clear();
    EXPECT_FALSE(WriteMinidump(r, &failure));
    EXPECT_NE(failure.find("the writer failed with exception c0000005"), std::string::npos) << failure;
    EXPECT_FALSE(Exists(path));
  }

  // A folder that is gone is made again; one that cannot be (a file of
  // that name) costs the dump.
  r.path = TempPath("kx no such folder\\x.dmp");
  r.writer = DiskFullWriter;
  WriteMinidump(r, &failure);
  EXPECT_NE(failure.find("error 112"), std::string::npos) << failure;
  RemoveDirectoryA(TempPath("kx no such folder").c_str());
  const std::string blocker = TempPath("kx_writer_blocker");
  CloseHandle(CreateFileA(blocker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  r.path = blocker + "\\x.dmp";
  EXPECT_FALSE(WriteMinidump(r, &failure));
  EXPECT_NE(failure.find("could not be created"), std::string::npos) << failure;
  DeleteFileA(blocker.c_str());
}

TEST(MinidumpWriter, AHangingWriterIsGivenUpAtItsDeadline) {
  const std::string path = TempPath("kx_writer_hangs.dmp");
  g_release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  TMinidumpRequest r = RequestFor(path);
  r.writer = HangingWriter;
  r.deadlineMs = 300;
  std::string failure;
  const DWORD start = GetTickCount();
  EXPECT_FALSE(WriteMinidump(r, &failure));
  EXPECT_LT(GetTickCount() - start, 5000u);
  EXPECT_EQ(failure, "the writer did not finish within 300 ms");
  // When the writer ends at last, its file goes.
  SetEvent(g_release);
  for (int i = 0; i < 500 && Exists(path); ++i) Sleep(10);
  EXPECT_FALSE(Exists(path));
  CloseHandle(g_release);
}

}  // namespace
}  // namespace kestrix
