#include "platform/ProgramPaths.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>

#include "platform/FileSystem.h"

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
  EXPECT_TRUE(std::filesystem::is_regular_file((ProgramFolder() / ProgramFileName()).Native()));
}

TEST(ProgramPaths, TheConfigFolderFollowsTheDesktopRules) {
  ScopedEnv home("HOME", "/home/ana/");
  EXPECT_EQ(HomeFolder().Native(), "/home/ana");
  EXPECT_EQ(DefaultProjectRoot(), "/home/ana/drumel");
  {
    ScopedEnv xdg("XDG_CONFIG_HOME", "/srv/conf/");
    EXPECT_EQ(ConfigFolder().Native(), "/srv/conf");
  }
  {
    ScopedEnv xdg("XDG_CONFIG_HOME", "relative/conf");
    EXPECT_EQ(ConfigFolder().Native(), "/home/ana/.config");
  }
  {
    ScopedEnv xdg("XDG_CONFIG_HOME", "");
    EXPECT_EQ(ConfigFolder().Native(), "/home/ana/.config");
  }
  {
    ScopedEnv xdg("XDG_CONFIG_HOME", nullptr);
    EXPECT_EQ(ConfigFolder().Native(), "/home/ana/.config");
  }
}

// The home folder stays the system's own path; as program text it is exact where it
// can be, else "~", and either way the file-system layer finds the same folder with it.
TEST(ProgramPaths, TheHomeFolderIsUsedAsItIsAndShownAsFarAsProgramTextCanName) {
  const struct {
    const char* home;
    const char* text;
  } cases[] = {
      {"/home/\xc5\xa1ime", "/home/\x9a" "ime"},                        // "šime": Windows-1250 has it
      {"/home/\xd0\x9f\xd1\x80\xd0\xb8\xd0\xb2\xd0\xb5\xd1\x82", "~"},  // Cyrillic: it has not
      {"/home/a\\b", "~"},                                             // '\' separates in program text
      {"/home/\xff", "~"},                                              // not UTF-8 at all
  };
  for (const auto& c : cases) {
    ScopedEnv home("HOME", c.home);
    EXPECT_EQ(HomeFolder().Native(), c.home);
    EXPECT_EQ(HomeFolderText(), c.text) << c.home;
    EXPECT_EQ(fs::NativePath(HomeFolderText() + "/drumel"), std::string(c.home) + "/drumel");
  }
}

TEST(ProgramPaths, WithoutHomeTheAccountEntryIsUsed) {
  ScopedEnv home("HOME", nullptr);
  EXPECT_FALSE(HomeFolder().empty());
}

}  // namespace
}  // namespace sv
