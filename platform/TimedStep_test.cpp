#include "platform/TimedStep.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>

#include "tests/support/Wait.h"

namespace sv {
namespace {

using namespace std::chrono_literals;
using Done = std::function<void(const asio::error_code&, std::size_t)>;

// A step that ends when its timer fires, an hour after it starts unless aborted; the
// time limits below end tests that have gone wrong, never a step that works.
struct TimerStep {
  asio::io_context io;
  asio::steady_timer timer{io};
  std::atomic<bool> started{false};
  int aborts = 0;

  std::optional<StepOutcome> Run(std::chrono::steady_clock::duration limit, Settle settle = Settle::kRun) {
    io.restart();
    return RunTimedStep(
        io, limit,
        [&](Done done) {
          timer.expires_after(1h);
          timer.async_wait([done](const asio::error_code& e) { done(e, 0); });
          started = true;
        },
        [&] {
          ++aborts;
          timer.cancel();
        },
        settle);
  }
};

TEST(TimedStep, EndsAsNotDoneWhenTheLimitPassesAndAbortsTheStep) {
  TimerStep step;
  EXPECT_FALSE(step.Run(10ms));
  EXPECT_EQ(step.aborts, 1);
  EXPECT_EQ(step.io.poll(), 0U);  // the aborted wait's handler has run already
}

// Another thread stops the context (the step ends as not done) or aborts the step
// through it (the step ends with the abort's error).
TEST(TimedStep, IsCancelledFromAnotherThread) {
  for (const bool stop : {true, false}) {
    TimerStep step;
    std::thread canceller([&] {
      EXPECT_TRUE(test::WaitFor([&] { return step.started.load(); }));
      if (stop) {
        step.io.stop();
      } else {
        asio::post(step.io, [&] { step.timer.cancel(); });
      }
    });
    const auto outcome = step.Run(1h);
    canceller.join();
    if (stop) {
      EXPECT_FALSE(outcome);
      EXPECT_EQ(step.aborts, 1);
    } else {
      ASSERT_TRUE(outcome);
      EXPECT_EQ(outcome->error, asio::error::operation_aborted);
      EXPECT_EQ(step.aborts, 0);
    }
  }
}

// A step whose abort cannot end it (a name lookup): its handler completes after the step
// gave up, while the next step runs, and neither touches freed storage nor ends that step.
TEST(TimedStep, AHandlerThatCompletesLateChangesNothing) {
  asio::io_context io;
  Done late;
  EXPECT_FALSE(RunTimedStep(io, 1ms, [&](Done done) { late = done; }, [] {}, Settle::kPoll));
  io.restart();
  const auto outcome = RunTimedStep(
      io, 1h,
      [&](Done done) {
        asio::post(io, [late] { late(asio::error::host_not_found, 5); });
        asio::post(io, [done] { done({}, 7); });
      },
      [] {}, Settle::kPoll);
  late = nullptr;
  ASSERT_TRUE(outcome);
  EXPECT_FALSE(outcome->error);
  EXPECT_EQ(outcome->bytes, 7U);
}

TEST(TimedStep, AStepThatEndsAtOnceGivesItsOutcome) {
  asio::io_context io;
  bool aborted = false;
  const auto outcome = RunTimedStep(
      io, 1h, [&](Done done) { asio::post(io, [done] { done(asio::error::eof, 3); }); }, [&] { aborted = true; },
      Settle::kRun);
  ASSERT_TRUE(outcome);
  EXPECT_EQ(outcome->error, asio::error::eof);
  EXPECT_EQ(outcome->bytes, 3U);
  EXPECT_FALSE(aborted);
}

}  // namespace
}  // namespace sv
