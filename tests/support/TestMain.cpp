// Main of every test program: HOME and the XDG folders (the runtime folder too) point into a temporary folder for
// the whole run, so no test can touch the real home folder (nor, under Wine, the real
// desktop trash).
#include <gtest/gtest.h>

#include "tests/support/TempDir.h"
#include "tests/support/TestPlatform.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  sv::test::TempDir home;
  sv::test::SetEnv("HOME", home.path());
  sv::test::SetEnv("XDG_CONFIG_HOME", home / ".config");
  sv::test::SetEnv("XDG_DATA_HOME", home / ".local/share");
  sv::test::SetEnv("XDG_RUNTIME_DIR", home / "run");
  sv::test::MakeDirs(home / ".config");
  sv::test::MakeDirs(home / ".local/share");
  sv::test::MakeDirs(home / "run");
  return RUN_ALL_TESTS();
}
