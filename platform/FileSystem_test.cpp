#include "platform/FileSystem.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <tuple>

#include "base/Exception.h"
#include "base/Text.h"
#include "tests/support/OsErrors.h"
#include "tests/support/TempDir.h"

namespace sv::fs {
namespace {

using test::TempDir;

std::map<std::string, DirEntry> List(const std::string& folder) {
  std::map<std::string, DirEntry> entries;
  EXPECT_TRUE(ForEachEntry(folder, [&](const DirEntry& e) { entries[e.name] = e; }));
  return entries;
}

TEST(FileSystem, NativePathUsesTheSystemsSeparatorAndUtf8) {
  EXPECT_EQ(NativePath("a\\b/c"), test::OnWindows() ? "a\\b\\c" : "a/b/c");
  EXPECT_EQ(NativePath("\xE8.txt"), "\xC4\x8D.txt");  // č
}

TEST(FileSystem, ListingShowsHiddenEntriesFoldersAndConvertedNames) {
  TempDir dir;
  test::WriteFile(dir / ".hidden", "h");
  test::WriteFile(dir / "\xC4\x8D.txt", "c");        // č: exists in Windows-1250
  test::WriteFile(dir / "\xE6\x97\xA5.txt", "j");    // 日: does not
  if (!test::OnWindows()) {  // names that Windows does not allow
    test::WriteFile(dir / "back\\slash", "b");
    test::WriteFile(dir / "\xC0\xAE", "o");          // over-long UTF-8 for '.'
  }
  test::MakeDirs(dir / "sub");
  auto entries = List(dir.path());
  ASSERT_EQ(entries.size(), test::OnWindows() ? 4u : 6u);
  EXPECT_EQ(entries.count("."), 0u);
  EXPECT_TRUE(entries[".hidden"].nameIsExact);
  EXPECT_FALSE(entries[".hidden"].isFolder);
  EXPECT_TRUE(entries["\xE8.txt"].nameIsExact);
  EXPECT_FALSE(entries["?.txt"].nameIsExact);
  if (!test::OnWindows()) {
    EXPECT_FALSE(entries["?"].nameIsExact);
    EXPECT_FALSE(entries["back\\slash"].nameIsExact);
  }
  EXPECT_TRUE(entries["sub"].isFolder);
  EXPECT_FALSE(ForEachEntry(dir / "missing", [](const DirEntry&) { FAIL(); }));
}

TEST(FileSystem, LinksAreFollowedForTypeTimeAndIdentity) {
  SV_SKIP_ON_WINDOWS("symbolic links: the Windows build's std::filesystem cannot make them");
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
  SV_SKIP_ON_WINDOWS("named pipes in a folder exist on POSIX systems only");
  TempDir dir;
  // Reading a pipe would wait for a writer that never comes.
  ASSERT_EQ(std::system(("mkfifo '" + (dir / "pipe") + "'").c_str()), 0);
  test::WriteFile(dir / "file", "");
  auto entries = List(dir.path());
  EXPECT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries.count("file"), 1u);
}

TEST(FileSystem, ExistenceAndFolderInfoTellFilesFromFolders) {
  TempDir dir;
  test::WriteFile(dir / "file", "");
  DirEntry info;
  EXPECT_TRUE(FolderExists(dir.path()));
  EXPECT_FALSE(FolderExists(dir / "file"));
  EXPECT_TRUE(FileExists(dir / "file"));
  EXPECT_FALSE(FileExists(dir.path()));
  EXPECT_FALSE(FileExists(dir / "missing"));
  EXPECT_FALSE(FolderInfo(dir / "file", info));
  EXPECT_TRUE(FolderInfo(dir.path(), info));
  EXPECT_TRUE(info.isFolder);
}

TEST(FileSystem, CreatingFolders) {
  TempDir dir;
  EXPECT_TRUE(CreateFolder(dir / "one"));
  EXPECT_FALSE(CreateFolder(dir / "one"));               // exists
  EXPECT_EQ(LastError(), test::kAlreadyExists.Code());
  EXPECT_FALSE(CreateFolder(dir / "two\\three"));        // parent missing
  EXPECT_TRUE(ForceFolders(dir / "two\\three/four\\"));  // both separators, trailing one
  EXPECT_TRUE(FolderExists(dir / "two/three/four"));
  EXPECT_TRUE(ForceFolders(dir / "two"));                // already there
  test::WriteFile(dir / "file", "");
  EXPECT_FALSE(ForceFolders(dir / "file"));
  EXPECT_FALSE(ForceFolders(dir / "file/below"));
}

TEST(FileSystem, RemoveFileLeavesFoldersAlone) {
  TempDir dir;
  test::WriteFile(dir / "f", "x");
  test::MakeDirs(dir / "d");
  EXPECT_TRUE(RemoveFile(dir / "f"));
  EXPECT_FALSE(FileExists(dir / "f"));
  EXPECT_FALSE(RemoveFile(dir / "f"));
  EXPECT_EQ(LastError(), test::kFileNotFound.Code());
  EXPECT_FALSE(RemoveFile(dir / "d"));
  EXPECT_TRUE(FolderExists(dir / "d"));
}

TEST(FileSystem, SetFileTimeSetsTheLastWriteTime) {
  TempDir dir;
  test::WriteFile(dir / "f", "x");
  ASSERT_TRUE(SetFileTime(dir / "f", 315532800));  // 1980-01-01
  EXPECT_EQ(List(dir.path())["f"].mtime, 315532800);
  EXPECT_FALSE(SetFileTime(dir / "missing", 0));
}

TEST(FileSystem, ReadingWholeFilesAndChunks) {
  TempDir dir;
  std::string big(200000, 'a');
  for (std::size_t i = 0; i < big.size(); i += 7) big[i] = static_cast<char>(i);
  test::WriteFile(dir / "\xC4\x8D", big);
  EXPECT_EQ(ReadFile(dir / "\xE8"), big);  // the program path is Windows-1250
  std::string joined;
  std::size_t chunks = 0;
  ReadFileChunks(dir / "\xE8", [&](const char* p, std::size_t n) {
    joined.append(p, n);
    ++chunks;
  });
  EXPECT_EQ(joined, big);
  EXPECT_GT(chunks, 1u);
  test::WriteFile(dir / "empty", "");
  EXPECT_EQ(ReadFile(dir / "empty"), "");
}

TEST(FileSystem, SizedReadingAnnouncesTheSizeFirst) {
  TempDir dir;
  const std::string content(150000, 'z');
  test::WriteFile(dir / "f", content);
  std::uint64_t announced = 0;
  std::string got;
  const std::uint64_t n = ReadFileSized(
      dir / "f", [&](std::uint64_t size) { announced = size; },
      [&](const char* p, std::size_t k) {
        EXPECT_EQ(announced, content.size());  // before the first byte
        got.append(p, k);
      });
  EXPECT_EQ(n, content.size());
  EXPECT_EQ(got, content);
  bool opened = false;
  EXPECT_THROW(ReadFileSized(dir / "missing", [&](std::uint64_t) { opened = true; }, [](const char*, std::size_t) {}),
               Exception);
  EXPECT_FALSE(opened);
}

TEST(FileSystem, ReadFailuresRaiseThePromisedText) {
  TempDir dir;
  try {
    ReadFile("/nonexistent-folder/x");
    FAIL();
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "Cannot open file \"/nonexistent-folder/x\". " + test::kPathNotFound.Text());
  }
  try {
    ReadFile(dir.path());
    FAIL();
  } catch (const Exception& e) {
    // Windows refuses to open a folder as a file.
    const std::string reason = test::OnWindows() ? test::kAccessDenied.Text() : "Is a directory";
    EXPECT_EQ(e.Message(), "Cannot open file \"" + dir.path() + "\". " + reason);
  }
}

TEST(FileSystem, ErrorTextDropsTrailingBlanksAndFullStops) {
  EXPECT_EQ(ErrorText(test::kFileNotFound.Code()), test::kFileNotFound.Text());
  const std::string text = ErrorText(test::kAccessDenied.Code());
  ASSERT_FALSE(text.empty());
  EXPECT_NE(text.back(), '.');
  EXPECT_NE(text.back(), ' ');
}

}  // namespace
}  // namespace sv::fs
