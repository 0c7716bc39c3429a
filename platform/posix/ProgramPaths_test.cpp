#include "platform/ProgramPaths.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>

#include "tests/support/TestPlatform.h"

namespace sv {
namespace {

using test::ScopedEnv;

TEST(ProgramPaths, TheProgramFileIsFoundInItsFolder) {
  EXPECT_EQ(ProgramFileName(), "sv_platform_tests");
  EXPECT_TRUE(std::filesystem::is_regular_file(ProgramFolder() + "/" + ProgramFileName()));
}

TEST(ProgramPaths, TheConfigFolderFollowsTheDesktopRules) {
  ScopedEnv home("HOME", "/home/ana/");
  EXPECT_EQ(HomeFolder(), "/home/ana");
  EXPECT_EQ(DefaultProjectRoot(), "/home/ana/drumel");
  {
    ScopedEnv xdg("XDG_CONFIG_HOME", "/srv/conf/");
    EXPECT_EQ(ConfigFolder(), "/srv/conf");
  }
  {
    ScopedEnv xdg("XDG_CONFIG_HOME", "relative/conf");
    EXPECT_EQ(ConfigFolder(), "/home/ana/.config");
  }
  {
    ScopedEnv xdg("XDG_CONFIG_HOME", "");
    EXPECT_EQ(ConfigFolder(), "/home/ana/.config");
  }
  {
    ScopedEnv xdg("XDG_CONFIG_HOME", std::nullopt);
    EXPECT_EQ(ConfigFolder(), "/home/ana/.config");
  }
}

TEST(ProgramPaths, FolderNamesComeBackAsProgramText) {
  ScopedEnv home("HOME", "/home/\xc5\xa1ime");  // "šime" in UTF-8
  EXPECT_EQ(HomeFolder(), "/home/\x9a" "ime");
}

TEST(ProgramPaths, WithoutHomeTheAccountEntryIsUsed) {
  ScopedEnv home("HOME", std::nullopt);
  EXPECT_FALSE(HomeFolder().empty());
}

}  // namespace
}  // namespace sv
