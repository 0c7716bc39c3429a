#include "platform/FileSystem.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>

#include "base/Exception.h"
#include "base/Text.h"
#include "platform/FileSystem_test.h"
#include "tests/support/OsErrors.h"
#include "tests/support/TempDir.h"

namespace sv::fs {
namespace {

using test::List;
using test::TempDir;

TEST(FileSystem, NativePathUsesTheSystemsSeparatorAndUtf8) {
  EXPECT_EQ(NativePath("a\\b/c"), test::OnWindows() ? "a\\b\\c" : "a/b/c");
  EXPECT_EQ(NativePath("\xE8.txt"), "\xC4\x8D.txt");  // č
}

TEST(FileSystem, AbsolutePathsAreThoseThatNeedNoWorkingFolder) {
  const bool win = test::OnWindows();
  const struct {
    std::string_view path;
    bool absolute;  // on Linux
    bool absoluteOnWindows;
  } kCases[] = {
      {"/home/ana", true, false},  {"\\srv", true, false},       {"~", true, true},
      {"~/drumel", true, true},    {"~\\drumel", true, true},     {"c:\\x", false, true},
      {"C:/x", false, true},       {"\\\\server\\share", true, true}, {"c:x", false, false},
      {"drumel", false, false},    {"./x", false, false},         {"~ana/x", false, false},
      {"", false, false},          {std::string_view("/a\0b", 4), false, false},
  };
  for (const auto& k : kCases) EXPECT_EQ(IsAbsolutePath(k.path), win ? k.absoluteOnWindows : k.absolute) << k.path;
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

// The quick way in is taken only for a regular file spelt exactly and reached without
// links; for anything else the caller looks further (and refuses what it must).
TEST(FileSystem, OpeningBelowAHeldFolderTakesOnlyPlainFilesAsSpelt) {
  if (test::OnWindows()) GTEST_SKIP() << "Windows holds no folder: its callers always take the slower way";
  TempDir dir;
  test::MakeDirs(dir / "Docs");
  test::WriteFile(dir / "Docs/a.txt", "abc");
  std::filesystem::create_directory_symlink(dir / "Docs", dir / "inner");
  std::filesystem::create_symlink("Docs/a.txt", dir / "alias.txt");
  ASSERT_EQ(std::system(("mkfifo '" + (dir / "pipe") + "'").c_str()), 0);
  const FolderHandle folder(dir.path());
  ASSERT_TRUE(folder.IsOpen());
  const std::pair<const char*, bool> cases[] = {
      {"\\Docs\\a.txt", true}, {"\\docs\\a.txt", false}, {"\\inner\\a.txt", false},
      {"\\alias.txt", false},  {"\\Docs", false},          {"\\pipe", false},
      {"\\none", false},
  };
  for (const auto& [path, opened] : cases) {
    InputFile file = InputFile::OpenBelow(folder, path);
    ASSERT_EQ(file.IsOpen(), opened) << path;
    if (!opened) continue;
    char buffer[8];
    EXPECT_EQ(file.Size(), 3u);
    EXPECT_EQ(std::string(buffer, file.Read(buffer, sizeof buffer)), "abc");
    EXPECT_EQ(file.Read(buffer, sizeof buffer), 0u);
  }
  EXPECT_FALSE(InputFile::OpenBelow(FolderHandle(dir / "missing"), "\\Docs\\a.txt").IsOpen());
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
