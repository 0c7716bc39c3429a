#pragma once
// TSyncObserver: what a synchronisation reports as it goes, and where it may be asked to
// stop. Every call comes from the thread that runs the synchronisation (the main thread)
// and must return quickly; an observer that shows progress elsewhere copies what it is
// told under a lock of its own.
#include <cstdint>
#include <string>

#include "base/Exception.h"
#include "base/SyncStatus.h"

namespace sv {

// The mass-deletion guard's limits: a project whose tasks would remove more than `count`
// files and more than `percent` % of the files it listed is held. 0 in either: no guard.
struct TRemovalLimits {
  int count = 0;
  int percent = 0;
};

class TSyncObserver {
 public:
  virtual ~TSyncObserver() = default;

  // Project `index` (0-based) of `count` starts: before its listing is built.
  virtual void ProjectStarted(int /*index*/, int /*count*/, const std::string& /*name*/) {}
  // It ended with `line`: the line logged for it, or the message of its failure.
  virtual void ProjectFinished(const std::string& /*name*/, const std::string& /*line*/,
                               std::int64_t /*milliseconds*/) {}
  // Task `index` (0-based) of `count` of the current project starts; `path` is the
  // file or folder it names.
  virtual void TaskStarted(int /*index*/, int /*count*/, const std::string& /*path*/) {}
  // A file's content of `size` bytes starts to arrive over the channel, then `received`
  // bytes of it (a running total) have arrived.
  virtual void ContentStarted(std::uint64_t /*size*/) {}
  virtual void ContentReceived(std::uint64_t /*received*/) {}
  // Asked before each project and before each task: true ends the run there with
  // ESyncStopped, so the task under way always finishes.
  virtual bool StopRequested() { return false; }
  // The guard's limits for the current run; by default none.
  virtual TRemovalLimits RemovalLimits() { return {}; }
  // Asked when a project's tasks would remove more than the limits allow: whether the
  // user confirmed a plan removing at least `removals` files for this run of it.
  virtual bool RemovalsConfirmed(const std::string& /*name*/, int /*removals*/) { return false; }
  // The guard's verdict, once the task list is in and before any task runs: `held`, the
  // plan held back, or null when the tasks run.
  virtual void GuardDecided(const std::string& /*name*/, const THeldProject* /*held*/) {}
};

// The run stopped because the observer asked it to; the message says where.
class ESyncStopped : public Exception {
 public:
  using Exception::Exception;
};

}  // namespace sv
