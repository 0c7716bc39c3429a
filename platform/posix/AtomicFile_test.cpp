#include "platform/AtomicFile.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "base/Exception.h"
#include "platform/TestHooks.h"
#include "tests/support/TempDir.h"

namespace sv::fs {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

// Names in the folder other than the expected ones: leftover temporary files.
std::vector<std::string> Names(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(folder)) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

std::string CommitMessage(AtomicFile& f) {
  try {
    f.Commit();
  } catch (const Exception& e) {
    return e.Message();
  }
  return "(no failure)";
}

TEST(AtomicFile, ReplacesContentWholeAndLeavesNoTemporaryFile) {
  TempDir dir;
  WriteFile(dir / "a.txt", "old content that is longer");
  {
    AtomicFile f(dir / "a.txt");
    f.Write("new", 3);
    // Until the commit the old content stands.
    EXPECT_EQ(ReadFile(dir / "a.txt"), "old content that is longer");
    f.Write("\r\n\0x", 4);
    f.Commit();
  }
  EXPECT_EQ(ReadFile(dir / "a.txt"), std::string("new\r\n\0x", 7));
  EXPECT_EQ(Names(dir.path()), std::vector<std::string>{"a.txt"});
  WriteFileAtomic(dir / "b.txt", "");
  EXPECT_EQ(ReadFile(dir / "b.txt"), "");
}

// Content is written unnamed where the file system allows, so that a write that never
// commits leaves nothing, also when the program is killed; a file that appeared at the
// target meanwhile is replaced whole, and a replaced file stands until the commit.
TEST(AtomicFile, ContentIsNamedOnlyAtItsCommit) {
  struct Case {
    const char* what;
    bool existed;  // a replacement
    bool appears;
    bool commits;
    std::string content;
  };
  for (const Case& c : {Case{"new, committed", false, false, true, "whole"},
                        Case{"new, appeared meanwhile", false, true, true, "whole"},
                        Case{"new, abandoned", false, false, false, ""},
                        Case{"replacement, committed", true, false, true, "whole"},
                        Case{"replacement, abandoned", true, false, false, "old"}}) {
    TempDir dir;
    const int probe = ::open(dir.path().c_str(), O_TMPFILE | O_WRONLY, 0600);
    const bool unnamed = probe >= 0;
    if (probe >= 0) ::close(probe);
    if (c.existed) WriteFile(dir / "f.bin", "old");
    {
      AtomicFile f(dir / "f.bin", AtomicFile::Durability::Ordinary, !c.existed);
      f.Write("whole", 5);
      if (unnamed) {
        EXPECT_EQ(Names(dir.path()).size(), c.existed ? 1u : 0u) << c.what;
      }
      if (c.appears) WriteFile(dir / "f.bin", "someone else's");
      if (c.commits) f.Commit();
    }
    const bool there = c.existed || c.commits;
    EXPECT_EQ(Names(dir.path()), there ? std::vector<std::string>{"f.bin"} : std::vector<std::string>{}) << c.what;
    if (there) {
      EXPECT_EQ(ReadFile(dir / "f.bin"), c.content) << c.what;
    }
  }
}

TEST(AtomicFile, ANameAsLongAsTheDiskAllowsGetsItsContent) {
  TempDir dir;
  const std::string name(255, 'n');
  WriteFileAtomic(dir / name, "long");
  EXPECT_EQ(ReadFile(dir / name), "long");
}

// Announced content takes its blocks ahead; content that falls short of its announcement
// gives back the blocks past its end.
TEST(AtomicFile, AnnouncedContentKeepsOnlyTheBlocksItFills) {
  TempDir dir;
  const std::string content(AtomicFile::kLargeBuffer + 12345, 'c');
  for (const std::uint64_t announced : {std::uint64_t{content.size()}, std::uint64_t{64} << 20}) {
    AtomicFile f(dir / "a.bin");
    f.Reserve(announced);
    f.Write(content.data(), content.size());
    f.Commit();
    EXPECT_EQ(ReadFile(dir / "a.bin"), content);
    struct stat st {};
    ASSERT_EQ(::stat((dir / "a.bin").c_str(), &st), 0);
    EXPECT_LE(static_cast<std::uint64_t>(st.st_blocks) * 512, content.size() + 64 * 1024) << announced;
  }
}

// The bytes of disk that the one open file below `folder` holds, blocks taken ahead
// included; -1 when none is open there.
std::int64_t DiskHeldBelow(const std::string& folder) {
  for (const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code ec;
    const std::string target = std::filesystem::read_symlink(e.path(), ec).string();
    if (ec || target.rfind(std::filesystem::canonical(folder).string() + "/", 0) != 0) continue;
    struct stat st {};
    if (::stat(e.path().c_str(), &st) == 0) return static_cast<std::int64_t>(st.st_blocks) * 512;
  }
  return -1;
}

// A sender that announces far more than it sends holds no more of the disk than it has
// sent and one step of blocks taken ahead.
TEST(AtomicFile, AnnouncedContentHoldsAtMostOneStepAheadOfWhatArrived) {
  TempDir dir;
  constexpr std::int64_t kStep = std::int64_t{64} << 20;
  const std::string piece(AtomicFile::kLargeBuffer, 'p');
  AtomicFile f(dir / "big.bin");
  f.Reserve(std::uint64_t{1} << 30);
  std::int64_t arrived = 0;
  while (arrived < 3 * kStep) {
    f.Write(piece.data(), piece.size());
    arrived += static_cast<std::int64_t>(piece.size());
    const std::int64_t held = DiskHeldBelow(dir.path());
    ASSERT_GE(held, 0);
    ASSERT_LE(held, arrived + kStep) << "after " << arrived << " bytes";
  }
  f.Commit();
  EXPECT_EQ(std::filesystem::file_size(dir / "big.bin"), static_cast<std::uintmax_t>(arrived));
}

TEST(AtomicFile, AbandonedWriteLeavesTheOldFileAndNoTemporaryFile) {
  TempDir dir;
  WriteFile(dir / "a.txt", "old");
  {
    AtomicFile f(dir / "a.txt");
    f.Write("partial", 7);
  }  // no commit: an interrupted fetch
  EXPECT_EQ(ReadFile(dir / "a.txt"), "old");
  EXPECT_EQ(Names(dir.path()), std::vector<std::string>{"a.txt"});
}

TEST(AtomicFile, MissingFolderAndReadOnlyTargetFailAtCommitAfterConsumingInput) {
  TempDir dir;
  const std::string missing = dir / "none/a.txt";
  AtomicFile f(missing);
  f.Write("abc", 3);  // discarded, no failure yet
  EXPECT_EQ(CommitMessage(f), "Cannot create file \"" + missing + "\". No such file or directory");

  WriteFile(dir / "ro.txt", "keep");
  ::chmod((dir / "ro.txt").c_str(), 0444);
  AtomicFile ro(dir / "ro.txt");
  ro.Write("x", 1);
  EXPECT_EQ(CommitMessage(ro), "Cannot create file \"" + (dir / "ro.txt") + "\". Permission denied");
  EXPECT_EQ(ReadFile(dir / "ro.txt"), "keep");

  std::filesystem::create_directory(dir / "sub");
  AtomicFile folder(dir / "sub");
  EXPECT_EQ(CommitMessage(folder), "Cannot create file \"" + (dir / "sub") + "\". Is a directory");
  EXPECT_EQ(Names(dir.path()), (std::vector<std::string>{"ro.txt", "sub"}));
}

TEST(AtomicFile, ReplacedFileKeepsItsModeAndProgramPathsUseBackslashes) {
  TempDir dir;
  WriteFile(dir / "x.sh", "old");
  ::chmod((dir / "x.sh").c_str(), 0751);
  WriteFileAtomic(dir.path() + "\\x.sh", "new");
  struct stat st {};
  ASSERT_EQ(::stat((dir / "x.sh").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0751u);
  EXPECT_EQ(ReadFile(dir / "x.sh"), "new");
}

// A writer takes the file made for its ticket when it lies in the target's folder; files
// whose writers skip them, or never come, are removed.
TEST(AtomicFile, FilesMadeAheadAreTakenByTheirWritersAndTheRestRemoved) {
  TempDir dir;
  std::filesystem::create_directories(dir / "a");
  std::filesystem::create_directories(dir / "b");
  WriteFile(dir / "b/kept", "old");
  ::chmod((dir / "b/kept").c_str(), 0640);
  {
    TempFilesAhead ahead;
    const std::vector<TempFilesAhead::Ticket> tickets =
        ahead.Prepare({dir / "a/skipped", dir / "b/kept", dir / "a/moved", dir / "none/x", dir / "a/unused"});
    const TempFilesAhead::Ticket kept = tickets[1], moved = tickets[2], missing = tickets[3];
    const struct {
      std::string target;
      TempFilesAhead::Ticket ticket;
      bool fails;
    } writes[] = {{dir / "b/kept", kept, false}, {dir / "b/moved", moved, false}, {dir / "none/x", missing, true}};
    for (const auto& w : writes) {
      AtomicFile f(w.target, AtomicFile::Durability::Ordinary, false, w.ticket);
      f.Write("new", 3);
      EXPECT_EQ(CommitMessage(f) != "(no failure)", w.fails) << w.target;
    }
    EXPECT_EQ(ReadFile(dir / "b/kept") + ReadFile(dir / "b/moved"), "newnew");
    struct stat st {};
    ASSERT_EQ(::stat((dir / "b/kept").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(Names(dir / "b"), (std::vector<std::string>{"kept", "moved"}));
  }
  EXPECT_EQ(Names(dir / "a"), std::vector<std::string>{});
}

TEST(AtomicFile, InterruptionBetweenWriteAndRenameLeavesTheOldFileWhole) {
  TempDir dir;
  WriteFile(dir / "svClient.xml", "<xml>old</xml>");
  std::string seen;
  SetCommitHookForTesting([&](const std::string& temp) {
    seen = ReadFile(temp);
    throw Exception("interrupted");
  });
  EXPECT_THROW(WriteFileAtomic(dir / "svClient.xml", "<xml>new</xml>"), Exception);
  SetCommitHookForTesting(nullptr);
  EXPECT_EQ(seen, "<xml>new</xml>");  // the whole content was written before the rename
  EXPECT_EQ(ReadFile(dir / "svClient.xml"), "<xml>old</xml>");
  EXPECT_EQ(Names(dir.path()), std::vector<std::string>{"svClient.xml"});
}

}  // namespace
}  // namespace sv::fs
