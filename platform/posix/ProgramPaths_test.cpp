#include "platform/ProgramPaths.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>

namespace sv {
namespace {

// Sets or removes an environment variable for one scope and restores it afterwards.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    value ? setenv(name, value, 1) : unsetenv(name);
  }
  ~ScopedEnv() { old_ ? setenv(name_, old_->c_str(), 1) : unsetenv(name_); }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

TEST(ProgramPaths, TheProgramFileIsFoundInItsFolder) {
  EXPECT_EQ(ProgramFileName(), "sv_platform_tests");
  EXPECT_TRUE(std::filesystem::is_regular_file(ProgramFolder() + "/" + ProgramFileName()));
}

TEST(ProgramPaths, TheConfigFolderFollowsTheDesktopRules) {
  ScopedEnv home("HOME", "/home/ana/");
  EXPECT_EQ(HomeFolder(), "/home/ana");
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
    ScopedEnv xdg("XDG_CONFIG_HOME", nullptr);
    EXPECT_EQ(ConfigFolder(), "/home/ana/.config");
  }
}

TEST(ProgramPaths, FolderNamesComeBackAsProgramText) {
  ScopedEnv home("HOME", "/home/\xc5\xa1ime");  // "šime" in UTF-8
  EXPECT_EQ(HomeFolder(), "/home/\x9a" "ime");
}

TEST(ProgramPaths, WithoutHomeTheAccountEntryIsUsed) {
  ScopedEnv home("HOME", nullptr);
  EXPECT_FALSE(HomeFolder().empty());
}

}  // namespace
}  // namespace sv
