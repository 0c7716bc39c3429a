#pragma once
// The in-memory event log: newest entry first, each entry a date-time and a text.
// Written from the main thread and the console's request threads; read by the console.
#include <atomic>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

#include "base/DateTime.h"

namespace sv {

// One entry; immutable once created.
class TdrEvent {
 public:
  TdrEvent(std::string text, TDateTime timestamp) : text_(std::move(text)), timestamp_(timestamp) {}
  const std::string& Text() const { return text_; }
  TDateTime Timestamp() const { return timestamp_; }
  // "<default date-time text>  - <text>" (two blanks before the hyphen, one after).
  std::string DisplayText() const;

 private:
  std::string text_;
  TDateTime timestamp_;
};

class TdrEventEnum;

class TdrEventLog {
 public:
  // The log keeps its newest kMaxEntries entries and drops older ones.
  static constexpr int kMaxEntries = 100000;

  TdrEventLog() = default;
  TdrEventLog(const TdrEventLog&) = delete;
  TdrEventLog& operator=(const TdrEventLog&) = delete;

  // Adds an entry stamped with the current local date-time, in constant time. Any thread.
  void Add(std::string text);
  // Number of entries. Does not lock: hold Lock() around a Count() test and the Items()
  // read that depends on it.
  int Count() const { return count_.load(std::memory_order_acquire); }
  // The entry at a zero-based index, 0 the newest. Does not lock (see Count). Raises
  // EListError outside 0..Count()-1.
  const TdrEvent& Items(int index) const;
  // An enumerator that holds the log's lock until it is destroyed.
  std::unique_ptr<TdrEventEnum> GetEnumerator();
  // The newest entry's DisplayText, or empty text for an empty log; takes the lock.
  std::string LatestDisplayText();

  void Lock() { lock_.lock(); }
  void Unlock() { lock_.unlock(); }
  // Takes the lock only when no other thread holds it; true when taken (then Unlock).
  bool TryLock() { return lock_.try_lock(); }

 private:
  std::recursive_mutex lock_;
  std::deque<TdrEvent> events_;  // oldest first; Items(i) is events_[size - 1 - i]
  std::atomic<int> count_{0};
};

// Walks the log newest first while holding its lock:
//   auto e = log.GetEnumerator(); while (e->MoveNext()) use(e->Current());
class TdrEventEnum {
 public:
  explicit TdrEventEnum(TdrEventLog& log);
  ~TdrEventEnum();
  TdrEventEnum(const TdrEventEnum&) = delete;
  TdrEventEnum& operator=(const TdrEventEnum&) = delete;

  bool MoveNext();
  const TdrEvent& Current() const;

 private:
  int position_ = -1;
  TdrEventLog& log_;
};

}  // namespace sv
