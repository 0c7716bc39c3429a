#include "platform/Shell.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "tests/support/TempDir.h"

namespace sv {
namespace {

// Waits until the detached program has written its file; the bound only stops a hang.
bool AppearsWithin(const std::string& path, std::chrono::seconds limit) {
  auto until = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < until) {
    if (std::filesystem::exists(path) && std::filesystem::file_size(path) > 0) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

TEST(StartDetached, StartsTheProgramWithItsArgumentsAndReportsWhatCannotStart) {
  test::TempDir dir;
  std::string out = dir / "out.txt";
  ASSERT_TRUE(StartDetached({"sh", "-c", "echo \"$0\" > \"$1.tmp\" && mv \"$1.tmp\" \"$1\"",
                             "a b", out}));
  ASSERT_TRUE(AppearsWithin(out, std::chrono::seconds(30)));
  EXPECT_EQ(test::ReadFile(out), "a b\n");

  EXPECT_FALSE(StartDetached({dir / "no-such-program"}));
  EXPECT_FALSE(StartDetached({"sorvana-no-such-program-on-path"}));
  EXPECT_FALSE(StartDetached({}));
}

}  // namespace
}  // namespace sv
