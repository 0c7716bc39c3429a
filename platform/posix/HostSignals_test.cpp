#include "platform/HostSignals.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "platform/Shell.h"
#include "tests/support/TempDir.h"

namespace sv {
namespace {

// Blocks the host's signals for one test and unblocks them afterwards, with nothing
// left pending.
class HostSignalsTest : public ::testing::Test {
 protected:
  void SetUp() override { BlockHostSignals(); }
  void TearDown() override {
    while (WaitHostSignal(0) != HostSignal::kNone) {
    }
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGUSR1);
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
  }
};

TEST_F(HostSignalsTest, EachSignalIsReportedAsWhatItAsks) {
  EXPECT_EQ(WaitHostSignal(0), HostSignal::kNone);
  kill(getpid(), SIGUSR1);
  EXPECT_EQ(WaitHostSignal(10000), HostSignal::kConfigure);
  kill(getpid(), SIGTERM);
  EXPECT_EQ(WaitHostSignal(10000), HostSignal::kQuit);
  kill(getpid(), SIGINT);
  EXPECT_EQ(WaitHostSignal(10000), HostSignal::kQuit);
  EXPECT_EQ(WaitHostSignal(1), HostSignal::kNone);
}

// A signal sent while another thread runs must not reach that thread's default handling
// (which would end the process): threads started later inherit the block.
TEST_F(HostSignalsTest, ThreadsStartedLaterLeaveTheSignalsToTheWaiter) {
  std::thread sender([] { kill(getpid(), SIGTERM); });
  EXPECT_EQ(WaitHostSignal(10000), HostSignal::kQuit);
  sender.join();
}

// The host's block must not be handed on: a browser started from the console link has
// to end on Ctrl+C and SIGTERM like any program.
TEST_F(HostSignalsTest, ADetachedProgramStartsWithNoSignalBlocked) {
  test::TempDir dir;
  std::string out = dir / "status.txt";
  ASSERT_TRUE(StartDetached({"sh", "-c", "grep '^SigBlk' /proc/self/status > \"$0.tmp\" && mv \"$0.tmp\" \"$0\"", out}));
  auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!std::filesystem::exists(out) && std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_TRUE(std::filesystem::exists(out));
  EXPECT_EQ(test::ReadFile(out), "SigBlk:\t0000000000000000\n");
}

}  // namespace
}  // namespace sv
