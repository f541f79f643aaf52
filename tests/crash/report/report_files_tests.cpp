// The bug report file's path rules.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "crash/report/bug_report_path.h"

namespace kestrix {
namespace {

TEST(BugReportPath, PlaceholdersAndRelativePaths) {
  EXPECT_EQ(BugReportFilePath("bugreport.txt", "C:\\app\\", "quorrin", "quorrin"), "C:\\app\\bugreport.txt");
  EXPECT_EQ(BugReportFilePath("%APPNAME%-%modname%.txt", "C:\\app\\", "quorrin", "lib"), "C:\\app\\quorrin-lib.txt");
  EXPECT_EQ(BugReportFilePath("D:\\logs\\r.txt", "C:\\app\\", "a", "b"), "D:\\logs\\r.txt");
  EXPECT_EQ(BugReportFilePath("\\\\srv\\share\\r.txt", "C:\\app\\", "a", "b"), "\\\\srv\\share\\r.txt");
  EXPECT_EQ(BugReportFilePath("\\r", "C:\\app\\", "a", "b"), "C:\\app\\\\r") << "shorter than 3: relative";
  EXPECT_EQ(BugReportFilePath("logs\\%appname%.txt", "C:\\app\\", "x", "y"), "C:\\app\\logs\\x.txt");
}

TEST(BugReportPath, FoldersFromTheTopDown) {
  EXPECT_EQ(FoldersToCreate("C:\\a\\b\\f.txt"), (std::vector<std::string>{"C:\\a", "C:\\a\\b"}));
  EXPECT_EQ(FoldersToCreate("C:\\f.txt"), std::vector<std::string>{});
  EXPECT_EQ(FoldersToCreate("\\\\srv\\share\\d\\f.txt"), std::vector<std::string>{"\\\\srv\\share\\d"});
  EXPECT_EQ(FoldersToCreate("\\x\\f.txt"), std::vector<std::string>{"\\x"});
}

}  // namespace
}  // namespace kestrix
