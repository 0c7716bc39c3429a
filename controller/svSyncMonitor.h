#pragma once
// TSyncMonitor: the synchronisation's progress and the pause, between the main thread,
// which runs synchronisations and reports to the monitor as their observer, and the
// console's request threads, which read copies. The lock is held only to copy values in
// or out, never while the synchronisation works.
#include <atomic>
#include <mutex>
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
  std::mutex mutex_;  // guards the two below
  TSyncProgress progress_;
  std::vector<TProjectResult> results_;
};

}  // namespace sv
