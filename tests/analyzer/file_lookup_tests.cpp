// The per-analysis file lookup answers as the system does.
#include <gtest/gtest.h>
#include <windows.h>

#include "analyzer/file_lookup.h"
#include "analyzer/platform_fs.h"
#include "tests/helpers/win/temp_dir.h"

namespace quorrin {
namespace {

using testing::TempDir;

TEST(FileLookup, AgreesWithTheSystem) {
  TempDir dir;
  dir.Write("Unit1.pas", "unit Unit1;");
  dir.Write("lib\\Forms.pas", "unit Forms;");
  dir.Write("lib\\my-unit_2.pas", "");
  dir.Write("lib\\Caf\xe9.pas", "");
  CreateDirectoryA((dir / "Folder.pas").c_str(), nullptr);
  ASSERT_TRUE(SetCurrentDir(dir.Path()));
  const char* names[] = {
      "Unit1.pas", "UNIT1.PAS", "unit1.pas", "Unit2.pas",   // current directory, any case
      "lib\\Forms.pas", "LIB\\forms.PAS", "lib\\Form.pas",  // relative folder
      "lib\\..\\Unit1.pas", ".\\lib\\.\\Forms.pas",         // dot parts
      "lib\\my-unit_2.pas", "lib\\MY-UNIT_2.PAS",
      "Folder.pas",                                         // a directory is no file
      "missing\\Unit1.pas", "lib\\Forms.pas\\x.pas",        // no such directory
      "lib\\Forms.pas.", "lib\\Forms.pas ",                 // the system trims these
      "lib\\Caf\xe9.pas",                                   // beyond ASCII
      "NUL.pas", "lib\\con.pas",                            // devices
      "lib\\",
  };
  TFileLookup lookup;
  for (const char* name : names) {
    EXPECT_EQ(lookup.FileExists(name), FileExists(name)) << name;
    EXPECT_EQ(lookup.FileExists(dir / name), FileExists(dir / name)) << dir / name;
  }
  EXPECT_TRUE(lookup.FileExists("unit1.pas"));
  EXPECT_FALSE(lookup.FileExists("Folder.pas"));
}

TEST(FileLookup, ListsADirectoryOncePerInstance) {
  TempDir dir;
  dir.Write("lib\\A.pas", "");
  TFileLookup lookup;
  EXPECT_TRUE(lookup.FileExists(dir / "lib\\A.pas"));
  EXPECT_FALSE(lookup.FileExists(dir / "lib\\B.pas"));
  // A file that appears later is seen by the next analysis's lookup.
  dir.Write("lib\\B.pas", "");
  EXPECT_FALSE(lookup.FileExists(dir / "lib\\B.pas"));
  EXPECT_TRUE(TFileLookup().FileExists(dir / "lib\\B.pas"));
  // A directory that did not exist is found once it does, by a new lookup.
  EXPECT_FALSE(lookup.FileExists(dir / "new\\C.pas"));
  dir.Write("new\\C.pas", "");
  EXPECT_TRUE(TFileLookup().FileExists(dir / "new\\C.pas"));
}

}  // namespace
}  // namespace quorrin
