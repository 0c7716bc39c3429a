#include "platform/UserFile.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "base/Exception.h"
#include "platform/AtomicFile.h"
#include "platform/FileSystem.h"
#include "platform/TestHooks.h"
#include "tests/support/OsErrors.h"
#include "tests/support/TempDir.h"

namespace sv::fs {
namespace {

using test::ReadFile;
using test::WriteFile;

DWORD Attributes(const std::string& path) { return ::GetFileAttributesW(test::FsPath(path).c_str()); }

std::size_t EntryCount(const std::string& folder) {
  return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(test::FsPath(folder)), {}));
}

std::string Failure(const std::function<void()>& write) {
  try {
    write();
  } catch (const Exception& e) {
    return e.Message();
  }
  return "";
}

// The settings file as the user keeps it: hidden, or with a second name. The rewrite
// changes the content only; a read-only file is refused and stays as it was.
TEST(WindowsUserFile, TheContentChangesAndWhatTheUserMadeStays) {
  test::TempDir dir;
  const std::string hidden = dir / "hidden.xml", twice = dir / "twice.xml", other = dir / "other.xml";
  WriteFile(hidden, "old");
  ::SetFileAttributesW(test::FsPath(hidden).c_str(), FILE_ATTRIBUTE_HIDDEN);
  RewriteUserFile(SystemPath(hidden), "new content");
  EXPECT_EQ(ReadFile(hidden), "new content");
  EXPECT_TRUE(Attributes(hidden) & FILE_ATTRIBUTE_HIDDEN);

  WriteFile(twice, "old");
  if (::CreateHardLinkW(test::FsPath(other).c_str(), test::FsPath(twice).c_str(), nullptr)) {
    RewriteUserFile(SystemPath(twice), "both names");
    EXPECT_EQ(ReadFile(other), "both names");  // rewritten in place, not replaced
  }

  const std::string readOnly = dir / "ro.xml";
  WriteFile(readOnly, "keep");
  test::MakeReadOnly(readOnly);
  EXPECT_EQ(Failure([&] { RewriteUserFile(SystemPath(readOnly), "x"); }),
            "Cannot create file \"" + SystemPath(readOnly).Text() + "\". " + test::kAccessDenied.Text());
  EXPECT_EQ(ReadFile(readOnly), "keep");
  EXPECT_EQ(EntryCount(dir.path()), std::filesystem::exists(test::FsPath(other)) ? 4u : 3u);  // no temporary file
}

// A new file's content goes to a temporary file first: an interruption, a full disk or a
// read-only target leave the old file whole and no temporary file behind.
TEST(WindowsAtomicFile, FailuresLeaveTheOldFileWholeAndNoTemporaryFile) {
  test::TempDir dir;
  const std::string target = dir / "a.txt";
  WriteFile(target, "old");
  SetCommitHookForTesting([](const std::string&) { throw Exception("interrupted"); });
  EXPECT_EQ(Failure([&] { WriteFileAtomic(target, "new"); }), "interrupted");
  SetCommitHookForTesting(nullptr);

  LimitFreeSpaceForTesting(AtomicFile::kBufferSize);
  EXPECT_EQ(Failure([&] {
              AtomicFile file(target);
              file.Reserve(AtomicFile::kBufferSize + 1);
            }),
            "Cannot create file \"" + target + "\". " + test::kDiskFull.Text());
  LimitFreeSpaceForTesting(std::nullopt);

  test::MakeReadOnly(target);
  EXPECT_EQ(Failure([&] { WriteFileAtomic(target, "new"); }),
            "Cannot create file \"" + target + "\". " + test::kAccessDenied.Text());
  EXPECT_EQ(ReadFile(target), "old");
  EXPECT_EQ(EntryCount(dir.path()), 1u);

  WriteFileAtomic(dir / "b.txt", "whole");
  EXPECT_EQ(ReadFile(dir / "b.txt"), "whole");
}

}  // namespace
}  // namespace sv::fs
