#include "controller/svSyncMonitor.h"

#include <gtest/gtest.h>

#include <thread>

namespace sv {
namespace {

// What a running synchronisation reports is seen end to end in /status.json; here: what
// each new step clears, and the results kept across runs.
TEST(SyncMonitor, EachStepClearsWhatBelongedToTheLastAndResultsOutliveTheRun) {
  TSyncMonitor m;
  m.SetClock([] { return TDateTime(7); });
  m.RunStarted(2);
  m.ProjectStarted(1, 2, "b");
  m.TaskStarted(4, 10, "\\x");
  m.ContentStarted(100);
  m.ContentReceived(40);
  // The next task starts without a transfer; the next project without a task.
  m.TaskStarted(5, 10, "\\y");
  EXPECT_FALSE(m.Progress().receiving);
  EXPECT_EQ(m.Progress().received, 0u);
  m.ProjectStarted(0, 2, "a");
  EXPECT_EQ(m.Progress().task, 0);
  EXPECT_EQ(m.Progress().path, "");

  m.ProjectFinished("b", "done", 12);
  m.ProjectFinished("a", "failed", 1);
  m.ProjectFinished("b", "again", 3);
  const std::vector<TProjectResult> results = m.Results();
  ASSERT_EQ(results.size(), 2u);
  EXPECT_EQ(results[0].line, "again");
  EXPECT_EQ(results[0].milliseconds, 3);
  EXPECT_EQ(results[0].finished, 7);
  EXPECT_EQ(results[1].name, "a");

  m.RunFinished();
  const TSyncProgress p = m.Progress();
  EXPECT_FALSE(p.running);
  EXPECT_EQ(p.projectName, "");
  EXPECT_EQ(m.Results().size(), 2u);

  EXPECT_FALSE(m.StopRequested());
  EXPECT_TRUE(m.SetPaused(true));
  EXPECT_FALSE(m.SetPaused(true));
  EXPECT_TRUE(m.StopRequested());
}

// A reader copies the progress while the run counts bytes; the ThreadSanitizer build
// holds this to having no race, and a copy is never torn.
TEST(SyncMonitor, ReadersSeeWholeCopiesWhileTheRunCounts) {
  TSyncMonitor m;
  m.RunStarted(1);
  m.ProjectStarted(0, 1, "p");
  std::thread run([&] {
    for (std::uint64_t i = 1; i <= 20000; ++i) {
      if (i % 100 == 1) {
        m.TaskStarted(static_cast<int>(i / 100), 200, "\\f" + std::to_string(i / 100));
        m.ContentStarted(100);
      }
      m.ContentReceived(i % 100 + 1);
    }
  });
  for (int i = 0; i < 2000; ++i) {
    const TSyncProgress p = m.Progress();
    if (p.task > 0) {
      EXPECT_EQ(p.path, "\\f" + std::to_string(p.task - 1));
    }
    EXPECT_LE(p.received, p.size);
  }
  run.join();
}

// A confirmation lets through no more than the plan held, and only the project's next run.
TEST(SyncMonitor, AConfirmationServesTheHeldProjectsNextRunOnly) {
  TSyncMonitor m;
  int removals = 0;
  EXPECT_FALSE(m.Confirm("a", removals));  // nothing held
  const THeldProject held{"a", 60, 80, {}};
  m.GuardDecided("a", &held);
  m.GuardDecided("b", nullptr);
  ASSERT_EQ(m.Held().size(), 1u);
  EXPECT_FALSE(m.RemovalsConfirmed("a", 60));

  ASSERT_TRUE(m.Confirm("a", removals));
  EXPECT_EQ(removals, 60);
  EXPECT_TRUE(m.RemovalsConfirmed("a", 60));
  EXPECT_FALSE(m.RemovalsConfirmed("a", 61));  // a larger plan
  EXPECT_FALSE(m.RemovalsConfirmed("b", 1));
  m.GuardDecided("a", nullptr);  // let through
  EXPECT_TRUE(m.Held().empty());
  m.ProjectFinished("a", "done", 1);
  EXPECT_FALSE(m.RemovalsConfirmed("a", 60));  // used up with that run
}

}  // namespace
}  // namespace sv
