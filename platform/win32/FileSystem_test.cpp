#include "platform/FileSystem.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "platform/win32/WinText.h"
#include "tests/support/TempDir.h"

namespace sv::fs {
namespace {

// A fetched file carries the server's time as its last write; when it was last read is
// the system's to keep.
TEST(WindowsFiles, SettingAFilesTimeSetsItsLastWriteOnly) {
  test::TempDir dir;
  const std::string path = dir / "a.txt";
  test::WriteFile(path, "a");
  auto times = [&](FILETIME& access, FILETIME& write) {
    HANDLE h = ::CreateFileW(test::FsPath(path).c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                             OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    ::GetFileTime(h, nullptr, &access, &write);
    ::CloseHandle(h);
  };
  FILETIME accessBefore, access, write;
  times(accessBefore, write);
  ASSERT_TRUE(SetFileTime(path, 1600000000));
  times(access, write);
  EXPECT_EQ(win::FileTimeToUnix(write), 1600000000);
  EXPECT_EQ(win::FileTimeToUnix(access), win::FileTimeToUnix(accessBefore));
}

}  // namespace
}  // namespace sv::fs
