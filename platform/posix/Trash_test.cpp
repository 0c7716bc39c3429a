#include "platform/Trash.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "base/Text.h"
#include "tests/support/TempDir.h"
#include "tests/support/TrashRecords.h"
#include "tests/support/TestPlatform.h"

namespace sv::fs {
namespace {

namespace stdfs = std::filesystem;
using test::MakeDirs;
using test::ReadFile;
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

TEST(FileTrash, FilesMoveOrStayLinkedWithTheirOriginRecorded) {
  TempDir dir;
  MakeDirs(dir / "p/x");
  WriteFile(dir / "p/a b%\xc4\x8d.txt", "one");
  WriteFile(dir / "p/x/a b%\xc4\x8d.txt", "two");  // the same name: another name in the trash
  WriteFile(dir / "p/kept.txt", "three");
  WriteFile(dir / "target", "t");
  stdfs::create_symlink(dir / "target", dir / "p/link");
  const std::string data = std::getenv("XDG_DATA_HOME");

  FileTrash trash;
  using R = FileTrash::Result;
  // Program paths are Windows-1250 text; the record holds the disk's own name.
  EXPECT_EQ(trash.Put(Cp(dir / "p/a b%\xc4\x8d.txt")), R::kTrashed);
  EXPECT_EQ(trash.Put(Cp(dir / "p/x/a b%\xc4\x8d.txt")), R::kTrashed);
  EXPECT_EQ(trash.Put(dir / "p/link"), R::kTrashed);
  EXPECT_EQ(trash.Put(dir / "p/kept.txt", true), R::kTrashed);
  EXPECT_EQ(trash.Put(dir / "p/none"), R::kAbsent);
  EXPECT_EQ(trash.Put(dir / "p/x"), R::kAbsent);  // a folder is not a file
  EXPECT_EQ(test::TrashedFiles(data, dir.path()),
            (std::map<std::string, std::string>{{dir / "p/a b%\xc4\x8d.txt", "one"},
                                                {dir / "p/kept.txt", "three"},
                                                {dir / "p/link", "t"},
                                                {dir / "p/x/a b%\xc4\x8d.txt", "two"}}));
  EXPECT_FALSE(stdfs::exists(stdfs::symlink_status(dir / "p/link")));
  EXPECT_EQ(ReadFile(dir / "target"), "t");
  EXPECT_EQ(ReadFile(dir / "p/kept.txt"), "three");  // kept: still at its name too

  // A replacement that did not happen takes the kept file back out of the trash.
  trash.TakeBackLast();
  EXPECT_EQ(test::TrashedFiles(data, dir.path()).count(dir / "p/kept.txt"), 0u);
  EXPECT_EQ(ReadFile(dir / "p/kept.txt"), "three");
}

TEST(FileTrash, ATrashThatCannotBeMadeRefusesAndLeavesTheFile) {
  TempDir dir;
  const std::string data = std::getenv("XDG_DATA_HOME");
  MakeDirs(dir / "data/Trash");
  WriteFile(dir / "data/Trash/info", "not a folder");
  WriteFile(dir / "a.txt", "a");
  test::SetEnv("XDG_DATA_HOME", dir / "data");
  FileTrash::Result result;
  {
    FileTrash trash;
    result = trash.Put(dir / "a.txt");
  }
  test::SetEnv("XDG_DATA_HOME", data);
  EXPECT_EQ(result, FileTrash::Result::kRefused);
  EXPECT_EQ(ReadFile(dir / "a.txt"), "a");
}

}  // namespace
}  // namespace sv::fs
