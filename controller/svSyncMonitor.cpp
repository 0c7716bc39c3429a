#include "controller/svSyncMonitor.h"

namespace sv {

void TSyncMonitor::RunStarted(int projectCount) {
  std::scoped_lock lock(mutex_);
  progress_ = TSyncProgress{};
  progress_.running = true;
  progress_.projectCount = projectCount;
}

void TSyncMonitor::RunFinished() {
  std::scoped_lock lock(mutex_);
  progress_ = TSyncProgress{};
}

void TSyncMonitor::ProjectStarted(int index, int count, const std::string& name) {
  std::scoped_lock lock(mutex_);
  progress_.project = index + 1;
  progress_.projectCount = count;
  progress_.projectName = name;
  progress_.task = progress_.taskCount = 0;
  progress_.path.clear();
  progress_.receiving = false;
  progress_.received = progress_.size = 0;
}

void TSyncMonitor::ProjectFinished(const std::string& name, const std::string& line,
                                   std::int64_t milliseconds) {
  TProjectResult result{name, line, milliseconds, now_ ? now_() : 0};
  std::scoped_lock lock(mutex_);
  confirmed_.erase(name);
  for (TProjectResult& r : results_) {
    if (r.name == name) {
      r = std::move(result);
      return;
    }
  }
  results_.push_back(std::move(result));
}

void TSyncMonitor::TaskStarted(int index, int count, const std::string& path) {
  std::scoped_lock lock(mutex_);
  progress_.task = index + 1;
  progress_.taskCount = count;
  progress_.path = path;
  progress_.receiving = false;
  progress_.received = progress_.size = 0;
}

void TSyncMonitor::ContentStarted(std::uint64_t size) {
  std::scoped_lock lock(mutex_);
  progress_.receiving = true;
  progress_.received = 0;
  progress_.size = size;
}

void TSyncMonitor::ContentReceived(std::uint64_t received) {
  std::scoped_lock lock(mutex_);
  progress_.received = received;
}

TSyncProgress TSyncMonitor::Progress() {
  std::scoped_lock lock(mutex_);
  return progress_;
}

std::vector<TProjectResult> TSyncMonitor::Results() {
  std::scoped_lock lock(mutex_);
  return results_;
}

TRemovalLimits TSyncMonitor::RemovalLimits() {
  std::scoped_lock lock(mutex_);
  return limits_;
}

void TSyncMonitor::SetRemovalLimits(TRemovalLimits limits) {
  std::scoped_lock lock(mutex_);
  limits_ = limits;
}

bool TSyncMonitor::RemovalsConfirmed(const std::string& name, int removals) {
  std::scoped_lock lock(mutex_);
  const auto found = confirmed_.find(name);
  return found != confirmed_.end() && removals <= found->second;
}

void TSyncMonitor::GuardDecided(const std::string& name, const THeldProject* held) {
  std::scoped_lock lock(mutex_);
  for (auto it = held_.begin(); it != held_.end(); ++it) {
    if (it->name == name) {
      held_.erase(it);
      break;
    }
  }
  if (held) held_.push_back(*held);
}

std::vector<THeldProject> TSyncMonitor::Held() {
  std::scoped_lock lock(mutex_);
  return held_;
}

bool TSyncMonitor::Confirm(const std::string& name, int& removals) {
  std::scoped_lock lock(mutex_);
  for (const THeldProject& h : held_) {
    if (h.name == name) {
      removals = confirmed_[name] = h.removals;
      return true;
    }
  }
  return false;
}

}  // namespace sv
