#include "platform/StartAtLogin.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "base/Exception.h"
#include "tests/support/TempDir.h"

namespace sv {
namespace {

// The user service is enabled by the link systemd's own enabling makes; without an
// installed unit there is nothing to enable, and the state stays as it was.
TEST(StartAtLogin, EnablesAndDisablesTheInstalledUserUnit) {
  const std::string config = std::getenv("XDG_CONFIG_HOME");
  const std::string link = config + "/systemd/user/default.target.wants/sorvana-client.service";
  ASSERT_FALSE(StartsAtLogin());
  EXPECT_THROW(SetStartsAtLogin(true), Exception);
  EXPECT_FALSE(StartsAtLogin());
  SetStartsAtLogin(false);  // off already: nothing to do

  const std::string unit = std::string(std::getenv("XDG_DATA_HOME")) + "/systemd/user/sorvana-client.service";
  test::MakeDirs(std::filesystem::path(unit).parent_path().string());
  test::WriteFile(unit, "[Install]\nWantedBy=default.target\n");
  SetStartsAtLogin(true);
  EXPECT_TRUE(StartsAtLogin());
  EXPECT_EQ(std::filesystem::read_symlink(link).string(), unit);
  SetStartsAtLogin(true);  // on already
  SetStartsAtLogin(false);
  EXPECT_FALSE(StartsAtLogin());
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
  EXPECT_TRUE(std::filesystem::exists(unit));
}

}  // namespace
}  // namespace sv
