// Main of every test program: HOME and the XDG folders point into a temporary folder for
// the whole run, so no test can touch the real home folder.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "tests/support/TempDir.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  sv::test::TempDir home;
  setenv("HOME", home.path().c_str(), 1);
  setenv("XDG_CONFIG_HOME", (home / ".config").c_str(), 1);
  setenv("XDG_DATA_HOME", (home / ".local/share").c_str(), 1);
  std::filesystem::create_directories(home / ".config");
  std::filesystem::create_directories(home / ".local/share");
  return RUN_ALL_TESTS();
}
