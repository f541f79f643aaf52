// File streams over Win32 handles: share modes, open errors, buffered reads.
#include <gtest/gtest.h>
#include <windows.h>

#include "analyzer/analysis.h"
#include "analyzer/errors.h"
#include "analyzer/file_stream.h"
#include "analyzer/platform_fs.h"
#include "tests/helpers/win/temp_dir.h"

namespace quorrin {
namespace {

using testing::TempDir;

TEST(FileStream, ShareModesAgainstAWriter) {
  TempDir dir;
  const std::string file = dir.Write("Held.pas", "unit Held;\ninterface\nuses A;\nimplementation\ninitialization X;\nend.");
  // Another program holds the file open for writing and lets others read.
  HANDLE writer = CreateFileA(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  EXPECT_NO_THROW(TTextFileStream(file, fmOpenRead | fmShareDenyNone));
  EXPECT_EQ(GetUsesList(file), TStringList{"A"});
  try {
    TFileStream s(file, fmOpenRead | fmShareDenyWrite);
    ADD_FAILURE() << "mode 32 opened a file held for writing";
  } catch (const EFOpenError& e) {
    EXPECT_EQ(std::string(e.what()),
              "Cannot open file \"" + file + "\". " + SysErrorMessage(ERROR_SHARING_VIOLATION));
  }
  EXPECT_THROW(GetInitializationSection(file), EFOpenError);
  CloseHandle(writer);
  EXPECT_EQ(GetInitializationSection(file), "initialization X;\nend.");
}

TEST(FileStream, OpenErrorNamesTheAbsolutePath) {
  TempDir dir;
  ASSERT_TRUE(SetCurrentDir(dir.Path()));
  try {
    TTextFileStream s("sub\\..\\Missing.pas", fmOpenRead | fmShareDenyNone);
    ADD_FAILURE() << "opened a missing file";
  } catch (const EFOpenError& e) {
    const std::string message = e.what();
    EXPECT_EQ(message, "Cannot open file \"" + (dir / "Missing.pas") + "\". " + SysErrorMessage(ERROR_FILE_NOT_FOUND));
    // The system text comes without its full stop or line break.
    EXPECT_NE(message.back(), '.');
    EXPECT_NE(message.back(), '\n');
  }
}

TEST(FileStream, ReadsLinesAndSeeksAcrossItsBuffer) {
  TempDir dir;
  std::string bytes;
  for (int i = 0; i < 20000; ++i) bytes += "line " + std::to_string(i) + (i % 2 ? "\r\n" : "\n");
  const std::string file = dir.Write("big.txt", bytes);
  TTextFileStream s(file, fmOpenRead | fmShareDenyNone);
  EXPECT_EQ(s.Size(), static_cast<int64_t>(bytes.size()));
  int count = 0;
  std::string line;
  while (!s.Eof()) {
    s.ReadLn(line);
    ASSERT_EQ(line, "line " + std::to_string(count));
    ++count;
  }
  EXPECT_EQ(count, 20000);
  // Backwards and random access give the file's bytes.
  for (int64_t pos : {int64_t(bytes.size()) - 1, int64_t(70000), int64_t(5), int64_t(131071)}) {
    char c = 0;
    EXPECT_EQ(s.Seek(pos, SeekOrigin::Beginning), pos);
    ASSERT_EQ(s.Read(&c, 1), 1);
    EXPECT_EQ(c, bytes[static_cast<size_t>(pos)]);
  }
  std::string all(bytes.size(), '\0');
  s.Seek(0, SeekOrigin::Beginning);
  EXPECT_EQ(s.Read(all.data(), static_cast<int64_t>(all.size())), static_cast<int64_t>(all.size()));
  EXPECT_EQ(all, bytes);
  EXPECT_EQ(s.Seek(-1, SeekOrigin::Beginning), static_cast<int64_t>(all.size()));
}

TEST(FileStream, EmptyAndOneByteFilesHaveNoSection) {
  TempDir dir;
  EXPECT_EQ(GetInitializationSection(dir.Write("empty.pas", "")), "");
  EXPECT_EQ(GetInitializationSection(dir.Write("one.pas", "b")), "");
  EXPECT_EQ(GetUsesList(dir.Write("empty.dpr", "")), TStringList{});
}

}  // namespace
}  // namespace quorrin
