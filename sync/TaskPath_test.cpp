#include "sync/TaskPath.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>

#include "base/Messages.h"
#include "platform/FileSystem.h"
#include "sync/Failure_test.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestPlatform.h"

namespace sv {
namespace {

using namespace std::string_view_literals;
using test::MakeDirs;
using test::MessageOf;
using test::TempDir;
using test::WriteFile;

const std::string kRefused = "(refused)";

std::string Checked(const std::string& root, std::string_view path, bool rootAllowed) {
  try {
    return CheckTaskPath(root, path, rootAllowed);
  } catch (const Exception& e) {
    // The message names the path as the system would have seen it.
    EXPECT_EQ(e.Message(), Format(msg::kForbiddenPath, root + std::string(path.substr(0, path.find('\0')))));
    return kRefused;
  }
}

TEST(CheckTaskPath, OnlyPathsBelowTheRootPassAsTheSystemSeesThem) {
  const std::string drive = fs::HasDriveLetters() ? kRefused : "\\b:c.txt";
  const struct {
    std::string_view path;
    std::string plain;  // or kRefused
    std::string rootAllowed;
  } cases[] = {
      {"\\a.txt", "\\a.txt", "\\a.txt"},
      {"\\docs/a.txt", "\\docs\\a.txt", "\\docs\\a.txt"},
      {"\\.hidden", "\\.hidden", "\\.hidden"},
      {"\\a\\.\\\\b\\", "\\a\\b", "\\a\\b"},
      {"\\...", "\\...", "\\..."},
      {"\\a..b", "\\a..b", "\\a..b"},
      {"\\b:c.txt", drive, drive},  // a drive only where drives exist
      // A path goes into a request line: a line end would add lines of the server's choice.
      {"\\a\r\nGetFile p \\b", kRefused, kRefused},
      {"\\a\n", kRefused, kRefused},
      // The system reads up to the first 0x00: so is the path checked and used.
      {"\\a\0\\..\\x"sv, "\\a", "\\a"},
      {"\\..\0x"sv, kRefused, kRefused},
      {"\\\0x"sv, kRefused, ""},
      // The root itself passes only where asked for.
      {"", kRefused, ""},
      {"\\", kRefused, ""},
      {"\\.\\", kRefused, ""},
      {"\\..\\x", kRefused, kRefused},
      {"\\a\\..\\..\\x", kRefused, kRefused},
      {"\\a/../../x", kRefused, kRefused},
      {"\\a\\..", kRefused, kRefused},
      {"/etc/x", kRefused, kRefused},
      {"C:\\x", kRefused, kRefused},
      {"x", kRefused, kRefused},
      {".", kRefused, kRefused},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Checked("/r", c.path, false), c.plain) << c.path;
    EXPECT_EQ(Checked("/r", c.path, true), c.rootAllowed) << c.path;
  }
  // A root the system would cut short takes no task at all.
  EXPECT_EQ(Checked(std::string("/r\0/x", 5), "\\a", false), kRefused);
}

// Local: docs/a.txt, docs/x.txt and docs/X.txt, čaj/.
class Matching : public ::testing::Test {
 protected:
  void SetUp() override {
    MakeDirs(dir / "docs");
    MakeDirs(dir / "\xC4\x8D" "aj");
    for (const char* name : {"docs/a.txt", "docs/x.txt", "docs/X.txt"}) WriteFile(dir / name, "");
  }
  TempDir dir;
};

TEST_F(Matching, CaseIsMatchedWhenExactlyOneLocalNameFits) {
  SV_SKIP_ON_WINDOWS("names that differ in case only are one name on Windows, whose file system matches them itself");
  const struct {
    const char* path;
    const char* local;
  } cases[] = {
      {"\\docs\\a.txt", "\\docs\\a.txt"},
      {"\\Docs\\A.TXT", "\\docs\\a.txt"},
      {"\\DOCS\\New.txt", "\\docs\\New.txt"},  // a new name keeps the task's spelling
      {"\\docs\\x.TXT", "\\docs\\x.TXT"},      // two local names fit: none is taken
      {"\\New\\Docs\\a.txt", "\\New\\Docs\\a.txt"},
      {"\\\xC8" "AJ\\f", "\\\xE8" "aj\\f"},  // Windows-1250 letters fold too
  };
  for (bool cached : {false, true}) {
    std::optional<TScopedNameCache> cache;
    if (cached) cache.emplace();
    for (const auto& c : cases) EXPECT_EQ(MatchLocalNames(dir.path(), c.path), c.local) << c.path << cached;
  }
}

TEST_F(Matching, TheCacheFollowsTheCommandsOwnChanges) {
  SV_SKIP_ON_WINDOWS("names that differ in case only are one name on Windows, whose file system matches them itself");
  TScopedNameCache cache;
  EXPECT_EQ(MatchLocalNames(dir.path(), "\\docs\\B.TXT"), "\\docs\\B.TXT");
  WriteFile(dir / "docs/b.txt", "");
  NoteLocalChange(dir.path(), "\\docs\\b.txt", LocalChange::Created);
  EXPECT_EQ(MatchLocalNames(dir.path(), "\\docs\\B.TXT"), "\\docs\\b.txt");
  // A folder removed and made again: what was known inside it is forgotten.
  std::filesystem::remove_all(dir / "docs");
  NoteLocalChange(dir.path(), "\\docs", LocalChange::Removed);
  MakeDirs(dir / "docs");
  WriteFile(dir / "docs/Q.txt", "");
  NoteLocalChange(dir.path(), "\\docs", LocalChange::Created);
  EXPECT_EQ(MatchLocalNames(dir.path(), "\\DOCS\\b.txt"), "\\docs\\b.txt");
  EXPECT_EQ(MatchLocalNames(dir.path(), "\\DOCS\\q.TXT"), "\\docs\\Q.txt");
}

TEST(MatchLocalNames, NoWayThroughALinkBackToTheRootOrAbove) {
  SV_SKIP_ON_WINDOWS("symbolic links: the Windows build's std::filesystem cannot make them");
  TempDir dir;
  const std::string root = dir / "root";
  MakeDirs(root + "/sub");
  MakeDirs(dir / "outside");
  std::filesystem::create_directory_symlink(dir.path(), root + "/up");
  std::filesystem::create_directory_symlink(root, root + "/sub/self");
  std::filesystem::create_directory_symlink(dir / "outside", root + "/out");
  for (const char* refused : {"\\up\\root", "\\UP\\x", "\\sub\\self\\sub"}) {
    EXPECT_EQ(MessageOf([&] { MatchLocalNames(root, refused); }), Format(msg::kForbiddenPath, root + refused));
  }
  // The link itself may be addressed, and a link elsewhere may be passed through.
  EXPECT_EQ(MatchLocalNames(root, "\\up"), "\\up");
  EXPECT_EQ(MatchLocalNames(root, "\\out\\x"), "\\out\\x");
  // A folder a run passed through, removed by a task and put back as such a link.
  TScopedNameCache cache;
  EXPECT_EQ(MatchLocalNames(root, "\\sub\\x"), "\\sub\\x");
  std::filesystem::remove_all(root + "/sub");
  NoteLocalChange(root, "\\sub", LocalChange::Removed);
  std::filesystem::create_directory_symlink(dir.path(), root + "/sub");
  EXPECT_EQ(MessageOf([&] { MatchLocalNames(root, "\\sub\\x"); }), Format(msg::kForbiddenPath, root + "\\sub\\x"));
}

// Links the folder's names leave out — one whose name cannot travel, one dangling until
// a task makes the folder it passes through — are checked all the same while a run
// knows the root's names.
TEST(MatchLocalNames, KnownNamesNeverSkipTheLinkCheck) {
  SV_SKIP_ON_WINDOWS("symbolic links: the Windows build's std::filesystem cannot make them");
  TempDir dir;
  const std::string root = dir / "root";
  MakeDirs(root);
  MakeDirs(dir / "out");
  std::filesystem::create_directory_symlink("..", root + "/up\xEF\xBF\xBD");  // the disk name of "up\x81"
  std::filesystem::create_directory_symlink("m/../..", root + "/l");
  for (bool cached : {false, true}) {
    std::filesystem::remove_all(root + "/m");
    std::optional<TScopedNameCache> cache;
    if (cached) cache.emplace();
    EXPECT_EQ(MatchLocalNames(root, "\\NEW.txt"), "\\NEW.txt");  // the root's names are read
    EXPECT_EQ(MatchLocalNames(root, "\\l\\evil.txt"), "\\l\\evil.txt");  // dangling: nothing to reach
    MakeDirs(root + "/m");
    NoteLocalChange(root, "\\m", LocalChange::Created);
    for (const char* path : {"\\up\x81\\out", "\\up\x81\\evil.txt", "\\l\\evil.txt"})
      EXPECT_EQ(MessageOf([&] { MatchLocalNames(root, path); }), Format(msg::kForbiddenPath, root + path))
          << path << cached;
  }
}

}  // namespace
}  // namespace sv
