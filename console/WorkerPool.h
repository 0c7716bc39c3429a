#pragma once
// The threads that serve the console's connections.
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace sv {

class HttpConnection;

// The threads that serve connections. Each serves one connection from its first byte to
// its close, then takes the next waiting one itself, and waits to be handed one only
// when none waits: under load a connection costs no thread a wake-up. A new connection
// costs a thread start only while every thread is busy. A connection handed over goes to
// the thread that has waited least (its memory is warmest), which alone is woken.
// Threads are kept until Stop.
class WorkerPool {
 public:
  // `next` gives a thread that has finished its connection the next one to serve, or
  // null; `allIdle` is called when the last serving thread has found none. Both run on
  // the pool's threads, with no lock of the pool held.
  WorkerPool(std::function<std::shared_ptr<HttpConnection>()> next, std::function<void()> allIdle);
  ~WorkerPool();
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  // The number of threads serving a connection now. Any thread.
  int Serving() const { return serving_.load(std::memory_order_acquire); }

  // Hands the connection to an idle thread, or to a new one. Raises std::system_error
  // (or std::bad_alloc) when no thread can be had; the connection is then not taken.
  // Any thread.
  void Serve(std::shared_ptr<HttpConnection> connection);

  // Lets every thread finish its connection, then joins them all; the pool can serve
  // again afterwards. Main thread, when nothing hands connections over any more.
  void Stop();

 private:
  struct Worker {
    std::thread thread;
    std::mutex mutex;  // guards next and stop
    std::condition_variable wake;
    std::shared_ptr<HttpConnection> next;
    bool stop = false;
  };

  void Work(Worker& w);
  std::shared_ptr<HttpConnection> TakeNext() noexcept;

  const std::function<std::shared_ptr<HttpConnection>()> next_;
  const std::function<void()> allIdle_;
  std::atomic<int> serving_{0};
  std::mutex mutex_;  // guards workers_ and idle_
  std::vector<std::unique_ptr<Worker>> workers_;
  std::vector<Worker*> idle_;  // waiting for a connection, the latest last
};

}  // namespace sv
