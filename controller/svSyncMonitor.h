#pragma once
// TSyncMonitor: the synchronisation's progress and the pause, between the main thread,
// which runs synchronisations and reports to the monitor as their observer, and the
// console's request threads, which read copies. The lock is held only to copy values in
// or out, never while the synchronisation works.
#include <atomic>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "base/SyncStatus.h"
#include "sync/SyncObserver.h"

namespace sv {

class TSyncMonitor : public TSyncObserver {
 public:
  // Main thread: around every synchronisation, the first one at start included.
  void RunStarted(int projectCount);
  void RunFinished();

  // TSyncObserver, main thread.
  void ProjectStarted(int index, int count, const std::string& name) override;
  void ProjectFinished(const std::string& name, const std::string& line, std::int64_t milliseconds) override;
  void TaskStarted(int index, int count, const std::string& path) override;
  void ContentStarted(std::uint64_t size) override;
  void ContentReceived(std::uint64_t received) override;
  // True while paused: a running synchronisation stops before its next task.
  bool StopRequested() override { return paused_.load(); }
  // The mass-deletion guard. A confirmation serves the project's next run only: it is
  // used up when that run ends, however it ends.
  TRemovalLimits RemovalLimits() override;
  bool RemovalsConfirmed(const std::string& name, int removals) override;
  void GuardDecided(const std::string& name, const THeldProject* held) override;

  // Any thread. The guard's limits for the runs that start from now on.
  void SetRemovalLimits(TRemovalLimits limits);
  // The projects held, in the order they were held, with their plans.
  std::vector<THeldProject> Held();
  // Lets the held project's next run remove as many files as its held plan would; false
  // when the project is not held.
  bool Confirm(const std::string& name, int& removals);

  // Any thread. SetPaused returns whether the state changed.
  bool SetPaused(bool paused) { return paused_.exchange(paused) != paused; }
  bool Paused() const { return paused_.load(); }

  // Copies, any thread. Results: the last one of each project, in the order the
  // projects first ended.
  TSyncProgress Progress();
  std::vector<TProjectResult> Results();

  // When a project's result is stamped; the controller gives the wall clock.
  void SetClock(TDateTime (*now)()) { now_ = now; }

 private:
  std::atomic<bool> paused_{false};
  TDateTime (*now_)() = nullptr;
  std::mutex mutex_;  // guards everything below
  TSyncProgress progress_;
  std::vector<TProjectResult> results_;
  TRemovalLimits limits_;
  std::vector<THeldProject> held_;
  std::map<std::string, int> confirmed_;  // project: removals allowed in its next run
};

}  // namespace sv
