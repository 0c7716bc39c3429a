#pragma once
// TSyncObserver: what a synchronisation reports as it goes, and where it may be asked to
// stop. Every call comes from the thread that runs the synchronisation (the main thread)
// and must return quickly; an observer that shows progress elsewhere copies what it is
// told under a lock of its own.
#include <cstdint>
#include <string>

#include "base/Exception.h"

namespace sv {

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
};

// The run stopped because the observer asked it to; the message says where.
class ESyncStopped : public Exception {
 public:
  using Exception::Exception;
};

}  // namespace sv
