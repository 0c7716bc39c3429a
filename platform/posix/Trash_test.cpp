#include "platform/Trash.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "tests/support/TempDir.h"

namespace sv::fs {
namespace {

namespace stdfs = std::filesystem;
using test::MakeDirs;
using test::TempDir;
using test::WriteFile;

// The trash of the test run's home folder (the test main points XDG_DATA_HOME there).
std::string TrashFiles() { return std::string(std::getenv("XDG_DATA_HOME")) + "/Trash/files"; }

TEST(Trash, ContentsFirstThenTheFolderItself) {
  TempDir dir;
  MakeDirs(dir / "proj/sub/deep");
  WriteFile(dir / "proj/a-trash-test.txt", "a");
  WriteFile(dir / "proj/.hidden", "h");
  WriteFile(dir / "proj/sub/deep/b.txt", "b");

  EXPECT_TRUE(TrashFolderContents(dir / "proj"));
  EXPECT_TRUE(stdfs::is_empty(dir / "proj"));
  EXPECT_TRUE(stdfs::exists(TrashFiles() + "/a-trash-test.txt"));

  // An empty folder: nothing to move counts as success.
  EXPECT_TRUE(TrashFolderContents(dir / "proj"));
  EXPECT_TRUE(MoveToTrash(dir / "proj"));
  EXPECT_FALSE(stdfs::exists(dir / "proj"));
}

TEST(Trash, MissingPathsFailWithoutRaising) {
  TempDir dir;
  EXPECT_FALSE(TrashFolderContents(dir / "none"));
  EXPECT_FALSE(MoveToTrash(dir / "none"));
  WriteFile(dir / "file.txt", "x");
  EXPECT_FALSE(TrashFolderContents(dir / "file.txt"));  // not a folder
  EXPECT_TRUE(stdfs::exists(dir / "file.txt"));
}

TEST(Trash, ALinkGoesItselfAndIsNeverPassedThrough) {
  TempDir dir;
  MakeDirs(dir / "outside");
  WriteFile(dir / "outside/keep", "k");
  stdfs::create_directory_symlink(dir / "outside", dir / "link");
  EXPECT_FALSE(TrashFolderContents(dir / "link"));
  EXPECT_FALSE(TrashFolderContents(dir / "link/"));
  EXPECT_TRUE(MoveToTrash(dir / "link"));
  EXPECT_FALSE(stdfs::exists(stdfs::symlink_status(dir / "link")));
  EXPECT_TRUE(stdfs::exists(dir / "outside/keep"));
}

}  // namespace
}  // namespace sv::fs
