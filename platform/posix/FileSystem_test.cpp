// Behaviour of the file-system layer that only POSIX systems show: symbolic links,
// named pipes, and folder permissions that bind a user other than the administrator.
#include "platform/FileSystem.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <tuple>

#include "platform/FileSystem_test.h"
#include "tests/support/TempDir.h"

namespace sv::fs {
namespace {

using test::List;
using test::TempDir;

TEST(FileSystem, LinksAreFollowedForTypeTimeAndIdentity) {
  TempDir dir;
  test::MakeDirs(dir / "real");
  test::WriteFile(dir / "f", "x");
  ASSERT_TRUE(SetFileTime(dir / "f", 1000000000));
  std::filesystem::create_directory_symlink(dir / "real", dir / "link");
  std::filesystem::create_symlink(dir / "f", dir / "flink");
  std::filesystem::create_symlink(dir / "nowhere", dir / "dangling");
  auto entries = List(dir.path());
  DirEntry real;
  ASSERT_TRUE(FolderInfo(dir / "real", real));
  EXPECT_TRUE(entries["link"].isFolder);
  EXPECT_EQ(entries["link"].inode, real.inode);
  EXPECT_EQ(entries["link"].device, real.device);
  EXPECT_EQ(entries["flink"].mtime, 1000000000);
  EXPECT_FALSE(entries["flink"].isFolder);
  EXPECT_TRUE(entries["link"].isLink && entries["flink"].isLink);
  EXPECT_FALSE(entries["real"].isLink || entries["f"].isLink);
  EXPECT_EQ(entries.count("dangling"), 0u);
}

TEST(FileSystem, KindsAndWhereLinksLead) {
  TempDir dir;
  test::MakeDirs(dir / "root/sub");
  test::MakeDirs(dir / "root2");
  test::WriteFile(dir / "root/f", "");
  std::filesystem::create_directory_symlink(dir / "root2", dir / "root/out");
  std::filesystem::create_directory_symlink(dir / "root/sub", dir / "root/in");
  std::filesystem::create_symlink(dir / "nowhere", dir / "root/gone");
  using enum EntryKind;
  const std::pair<const char*, EntryKind> kinds[] = {
      {"root/f", kFile}, {"root/sub", kFolder}, {"root/out", kLink}, {"root/gone", kLink}, {"root/none", kNone}};
  for (const auto& [path, kind] : kinds) EXPECT_EQ(KindOf(dir / path), kind) << path;
  const std::tuple<const char*, const char*, bool> within[] = {
      {"root/in", "root", true},   {"root", "root", true},  {"root", ".", true},   {"root/out", "root", false},
      {"root2", "root", false},    {"root/gone", "root", false},
      {"root/in/x", "root", false},  // nothing there to resolve
  };
  for (const auto& [path, folder, expected] : within)
    EXPECT_EQ(LiesWithin(dir / path, dir / folder), expected) << path << " in " << folder;
}

// What counts for an open file is where it lies, not where its path led: a link changed
// after the open changes nothing for it.
TEST(FileSystem, AnOpenFileLiesWhereItIs) {
  TempDir dir;
  test::MakeDirs(dir / "root/sub");
  test::MakeDirs(dir / "outside");
  test::WriteFile(dir / "root/sub/a", "");
  test::WriteFile(dir / "outside/b", "");
  std::filesystem::create_symlink(dir / "root/sub/a", dir / "root/link");
  const InputFile before = InputFile::Open(dir / "root/link");
  std::filesystem::remove(dir / "root/link");
  std::filesystem::create_symlink(dir / "outside/b", dir / "root/link");
  const InputFile after = InputFile::Open(dir / "root/link");
  EXPECT_TRUE(before.LiesWithin(dir / "root"));
  EXPECT_FALSE(before.LiesWithin(dir / "outside"));
  EXPECT_FALSE(after.LiesWithin(dir / "root"));
  EXPECT_FALSE(InputFile().LiesWithin(dir / "root"));
}

// Runs `check` as an unprivileged user: in a child process when this one is the
// administrator, whom permissions do not bind; here otherwise.
bool AsUnprivilegedUser(const std::function<bool()>& check) {
  if (::geteuid() != 0) return check();
  const pid_t child = ::fork();
  if (child == 0) ::_exit(::setgid(65534) != 0 || ::setuid(65534) != 0 ? 2 : check() ? 1 : 0);
  int status = 0;
  EXPECT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) != 2) << "the child could not give up its rights";
  return WIFEXITED(status) && WEXITSTATUS(status) == 1;
}

TEST(FileSystem, DeletingAFileTakesAWritableFolder) {
  TempDir dir;
  std::filesystem::permissions(dir.path(), std::filesystem::perms::all);  // reachable for every user
  // In a sticky folder only the owner of the file or of the folder may remove it.
  const std::tuple<const char*, int, bool> folders[] = {
      {"open", 0777, true}, {"closed", 0555, false}, {"sticky", 01777, ::geteuid() != 0}};
  for (const auto& [name, perms, deletable] : folders) {
    test::MakeDirs(dir / name);
    test::WriteFile(dir / name + "/f", "x");
    std::filesystem::permissions(dir / name + "/f", std::filesystem::perms::all);
    std::filesystem::permissions(dir / name, std::filesystem::perms(perms));
    const std::string path = dir / name + "/f";
    EXPECT_EQ(AsUnprivilegedUser([&] { return CanRemoveFile(path); }), deletable) << name;
  }
}

TEST(FileSystem, PipesAreNotListed) {
  TempDir dir;
  // Reading a pipe would wait for a writer that never comes.
  ASSERT_EQ(std::system(("mkfifo '" + (dir / "pipe") + "'").c_str()), 0);
  test::WriteFile(dir / "file", "");
  auto entries = List(dir.path());
  EXPECT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries.count("file"), 1u);
}

}  // namespace
}  // namespace sv::fs
