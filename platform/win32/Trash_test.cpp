#include "platform/Trash.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/FileSystem.h"
#include "tests/support/TempDir.h"

namespace sv::fs {
namespace {

// The recycle bin through the shell: the two steps of deleting a folder, and silence
// for what is not there.
TEST(WindowsTrash, ContentsFirstThenTheFolderItselfAndMissingPathsFailQuietly) {
  test::TempDir dir;
  test::MakeDirs(dir / "p/sub");
  test::WriteFile(dir / "p/a.txt", "a");
  test::WriteFile(dir / "p/sub/b.txt", "b");
  EXPECT_TRUE(TrashFolderContents(dir / "p"));
  EXPECT_TRUE(FolderExists(dir / "p"));
  EXPECT_FALSE(FileExists(dir / "p/a.txt"));
  EXPECT_FALSE(FolderExists(dir / "p/sub"));
  EXPECT_TRUE(TrashFolderContents(dir / "p"));  // nothing inside: success
  EXPECT_TRUE(MoveToTrash(dir / "p"));
  EXPECT_FALSE(FolderExists(dir / "p"));
  EXPECT_FALSE(TrashFolderContents(dir / "p"));
  EXPECT_FALSE(MoveToTrash(dir / "p"));
}

// A file goes to the recycle bin whether kept or not (the shell can only move it); a
// folder or nothing at the path is no file.
TEST(WindowsTrash, FilesGoToTheRecycleBinAndFoldersAreNoFiles) {
  test::TempDir dir;
  test::MakeDirs(dir / "p");
  test::WriteFile(dir / "p/a.txt", "a");
  test::WriteFile(dir / "p/b.txt", "b");
  FileTrash trash;
  EXPECT_EQ(trash.Put(dir / "p/a.txt"), FileTrash::Result::kTrashed);
  EXPECT_EQ(trash.Put(dir / "p/b.txt", true), FileTrash::Result::kTrashed);
  EXPECT_FALSE(FileExists(dir / "p/a.txt"));
  EXPECT_FALSE(FileExists(dir / "p/b.txt"));
  EXPECT_EQ(trash.Put(dir / "p/a.txt"), FileTrash::Result::kAbsent);
  EXPECT_EQ(trash.Put(dir / "p"), FileTrash::Result::kAbsent);
}

}  // namespace
}  // namespace sv::fs
