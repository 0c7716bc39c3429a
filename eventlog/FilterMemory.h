#pragma once
// What filters kept of one event log, remembered between the pages DumpEventLog renders
// (drLogDump.h), so that a deep page of a filtered log costs its rows and not a walk of
// the whole log. Events are named by their sequence numbers (TdrEventSnapshot::End).
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace sv {

// One filter's record: the events [low, high) have been tested, and `kept` holds, in
// ascending order, the numbers of those that passed. One page at a time uses it (Take),
// never holding the log's lock meanwhile.
struct TdrFilterMatches {
  // Waits at most `limit` for the record to be free and takes it: true when taken (then
  // Give it back).
  bool Take(std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex);
    if (!freed.wait_for(lock, limit, [this] { return !busy; })) return false;
    busy = true;
    return true;
  }
  void Give() {
    {
      std::scoped_lock lock(mutex);
      busy = false;
    }
    freed.notify_one();
  }

  std::uint64_t low = 0, high = 0;
  std::deque<std::uint64_t> kept;

 private:
  std::mutex mutex;  // guards busy
  std::condition_variable freed;
  bool busy = false;
};

struct TdrFilterMemory {
  // The most filters remembered; the one asked for least recently goes first.
  static constexpr std::size_t kFilters = 8;

  // The record of a filter (a new, empty one the first time). Any thread.
  std::shared_ptr<TdrFilterMatches> For(std::string_view filter) {
    std::scoped_lock lock(mutex);
    for (auto it = recent.begin(); it != recent.end(); ++it) {
      if (it->first != filter) continue;
      recent.splice(recent.begin(), recent, it);
      return recent.front().second;
    }
    recent.emplace_front(std::string(filter), std::make_shared<TdrFilterMatches>());
    if (recent.size() > kFilters) recent.pop_back();
    return recent.front().second;
  }

  std::mutex mutex;  // guards recent
  std::list<std::pair<std::string, std::shared_ptr<TdrFilterMatches>>> recent;  // most recent first
};

}  // namespace sv
