#include "console/WorkerPool.h"

#include <exception>
#include <utility>

#include "console/HttpConnection.h"

namespace sv {

WorkerPool::WorkerPool(std::function<std::shared_ptr<HttpConnection>()> next, std::function<void()> allIdle)
    : next_(std::move(next)), allIdle_(std::move(allIdle)) {}

WorkerPool::~WorkerPool() { Stop(); }

void WorkerPool::Serve(std::shared_ptr<HttpConnection> connection) {
  serving_.fetch_add(1, std::memory_order_acq_rel);
  Worker* worker = nullptr;
  {
    std::scoped_lock lock(mutex_);
    if (idle_.empty()) {
      try {
        workers_.push_back(std::make_unique<Worker>());
        Worker& fresh = *workers_.back();
        fresh.next = std::move(connection);
        try {
          fresh.thread = std::thread([this, &fresh] { Work(fresh); });
        } catch (...) {
          workers_.pop_back();
          throw;
        }
      } catch (...) {
        serving_.fetch_sub(1, std::memory_order_acq_rel);
        throw;
      }
      return;
    }
    worker = idle_.back();
    idle_.pop_back();
  }
  {
    std::scoped_lock lock(worker->mutex);
    worker->next = std::move(connection);
  }
  worker->wake.notify_one();
}

void WorkerPool::Stop() {
  std::vector<std::unique_ptr<Worker>> workers;
  {
    std::scoped_lock lock(mutex_);
    workers.swap(workers_);
    idle_.clear();
  }
  for (auto& w : workers) {
    {
      std::scoped_lock lock(w->mutex);
      w->stop = true;
    }
    w->wake.notify_one();
  }
  for (auto& w : workers) w->thread.join();
  // A thread that finished its connection while this ran has put itself back.
  std::scoped_lock lock(mutex_);
  idle_.clear();
}

void WorkerPool::Work(Worker& w) {
  for (;;) {
    std::shared_ptr<HttpConnection> connection;
    {
      std::unique_lock lock(w.mutex);
      w.wake.wait(lock, [&w] { return w.next || w.stop; });
      if (!w.next) return;  // stopping
      connection = std::move(w.next);
    }
    while (connection) {
      connection->Run();
      connection = TakeNext();
    }
    {
      std::scoped_lock lock(mutex_);
      idle_.push_back(&w);
    }
    if (serving_.fetch_sub(1, std::memory_order_acq_rel) == 1) allIdle_();
  }
}

std::shared_ptr<HttpConnection> WorkerPool::TakeNext() noexcept {
  try {
    return next_();
  } catch (const std::exception&) {  // no memory for the next one: it waits for a tick
    return nullptr;
  }
}

}  // namespace sv
