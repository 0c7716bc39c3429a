#include "platform/ConsoleKey.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "platform/ProgramPaths.h"
#include "platform/TestHooks.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestPlatform.h"

namespace sv {
namespace {

mode_t Mode(const std::string& path) {
  struct stat info {};
  EXPECT_EQ(lstat(path.c_str(), &info), 0) << path;
  return info.st_mode & 07777;
}

std::string Content(const std::string& path) {
  std::ifstream in(path);
  std::stringstream all;
  all << in.rdbuf();
  return all.str();
}

TEST(ConsoleKey, KeysAre256RandomBitsInHex) {
  const std::string a = NewConsoleKey(), b = NewConsoleKey();
  EXPECT_EQ(a.size(), 64u);
  EXPECT_EQ(a.find_first_not_of("0123456789abcdef"), std::string::npos);
  EXPECT_NE(a, b);
}

// In the runtime folder the program's own folder is made private, even when an earlier
// run or someone's mistake left it open; a stale file, or a link put in its place, is
// replaced and what the link named stays as it was.
TEST(ConsoleKey, FileAdmitsOnlyTheUserAndReplacesWhatWasThere) {
  test::TempDir run;
  test::ScopedEnv runtime("XDG_RUNTIME_DIR", run.path());
  const std::string folder = run / "sorvana-client", file = folder + "/console-key";
  ASSERT_EQ(ConsoleKeyFile().Native(), file);
  ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
  const std::string elsewhere = run / "elsewhere";
  std::ofstream(elsewhere) << "mine";
  ASSERT_EQ(symlink(elsewhere.c_str(), file.c_str()), 0);

  WriteConsoleKeyFile(ConsoleKeyFile(), "k1");
  EXPECT_EQ(Mode(folder), 0700u);
  EXPECT_EQ(Mode(file), 0600u);
  EXPECT_EQ(Content(file), "k1\n");
  EXPECT_EQ(Content(elsewhere), "mine");

  WriteConsoleKeyFile(ConsoleKeyFile(), "k2");
  EXPECT_EQ(Content(file), "k2\n");
  RemoveConsoleKeyFile(ConsoleKeyFile());
  EXPECT_NE(access(file.c_str(), F_OK), 0);
  RemoveConsoleKeyFile(ConsoleKeyFile());  // gone already: nothing happens
}

TEST(ConsoleKey, WithoutRuntimeFolderTheFileGoesToTheConfigurationFolder) {
  test::TempDir config;
  test::ScopedEnv runtime("XDG_RUNTIME_DIR", std::nullopt);
  SetConfigFolderForTesting(SystemPath(config.path()));
  const std::string file = config / "drumel/sorvana/console-key";
  EXPECT_EQ(ConsoleKeyFile().Native(), file);
  WriteConsoleKeyFile(ConsoleKeyFile(), "k");
  SetConfigFolderForTesting(SystemPath());
  EXPECT_EQ(Mode(file), 0600u);
  EXPECT_EQ(Mode(config / "drumel"), 0700u);
  EXPECT_EQ(Content(file), "k\n");
}

}  // namespace
}  // namespace sv
