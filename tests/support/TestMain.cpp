// Main of every test program: HOME and the XDG folders (the runtime folder too) point into a temporary folder for
// the whole run, so no test can touch the real home folder (nor, under Wine, the real
// desktop trash).
#include <gtest/gtest.h>

#include "tests/support/TempDir.h"
#include "tests/support/TestPlatform.h"

// ThreadSanitizer's suppressions for the test programs (unused in other builds): GLib and
// GIO are not built with it, and the allocator they share with their own worker thread
// ("gdbus") looks like a race to it although GLib guards it.
extern "C" const char* __tsan_default_suppressions() {
  return "race:libglib-2.0.so\nrace:libgio-2.0.so\nrace:libgobject-2.0.so\n";
}

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
