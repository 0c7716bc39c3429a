#include "platform/posix/TempFiles.h"

#include <exception>
#include <utility>
#include <vector>

#include "platform/FileSystem.h"

namespace sv::fs {

TempFilesAhead::Impl::Job* TempFilesAhead::Impl::Find(std::uint64_t number) {
  for (Job& job : jobs) {
    if (job.number == number) return &job;
  }
  return nullptr;
}

void TempFilesAhead::Impl::Work() {
  std::unique_lock lock(mutex);
  for (;;) {
    Job* job = nullptr;
    wake.wait(lock, [&] {
      for (Job& j : jobs) {
        if (j.state == Job::kWaiting) return (job = &j) != nullptr;
      }
      return stop;
    });
    if (stop) return;
    job->state = Job::kMaking;
    const std::uint64_t number = job->number;
    const std::string target = job->target;
    lock.unlock();
    Temp temp = CreateTemp(target, true);
    lock.lock();
    if (Job* still = Find(number)) {
      still->temp = std::move(temp);
      still->state = Job::kMade;
      made.notify_all();
    } else {
      Discard(temp);  // its writer has gone by
    }
  }
}

std::optional<Temp> TempFilesAhead::Impl::Take(std::uint64_t number, std::string_view target) {
  std::unique_lock lock(mutex);
  while (!jobs.empty() && jobs.front().number < number) {
    Discard(jobs.front().temp);
    jobs.pop_front();
  }
  if (jobs.empty() || jobs.front().number != number) return std::nullopt;
  made.wait(lock, [&] { return jobs.front().state != Job::kMaking; });
  Job job = std::move(jobs.front());
  jobs.pop_front();
  if (job.temp.fd >= 0 && FolderOf(job.target) == FolderOf(target)) return std::move(job.temp);
  Discard(job.temp);
  return std::nullopt;
}

TempFilesAhead::TempFilesAhead() : impl_(std::make_unique<Impl>()) {}

TempFilesAhead::~TempFilesAhead() {
  Clear();
  {
    std::scoped_lock lock(impl_->mutex);
    impl_->stop = true;
  }
  impl_->wake.notify_one();
  if (impl_->thread.joinable()) impl_->thread.join();
}

std::vector<TempFilesAhead::Ticket> TempFilesAhead::Prepare(const std::vector<std::string>& paths) {
  Impl& m = *impl_;
  std::vector<Ticket> tickets(paths.size());
  if (paths.empty()) return tickets;
  try {
    if (!m.thread.joinable()) m.thread = std::thread([&m] { m.Work(); });
    std::scoped_lock lock(m.mutex);
    for (std::size_t i = 0; i < paths.size(); ++i) {
      m.jobs.push_back({m.next, NativePath(paths[i]), Impl::Job::kWaiting, {}});
      tickets[i] = {this, m.next++};
    }
  } catch (const std::exception&) {
    // No thread or no memory: the writers without a ticket create their own files.
  }
  m.wake.notify_one();
  return tickets;
}

void TempFilesAhead::Clear() noexcept {
  std::scoped_lock lock(impl_->mutex);
  for (auto& job : impl_->jobs) Discard(job.temp);
  impl_->jobs.clear();  // one being made is removed by the maker
}

}  // namespace sv::fs
