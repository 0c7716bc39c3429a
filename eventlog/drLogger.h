#pragma once
// The in-memory event log: newest entry first, each entry a date-time and a text.
// Written from the main thread and the console's request threads; read by the console.
//
// Entries live in fixed blocks shared between the log and its snapshots. A block is only
// ever appended to, and a snapshot reads only the entries that were in it when it was
// taken, so a reader works on a snapshot without the lock and Add never waits for one.
#include <array>
#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/DateTime.h"

namespace sv {

// One entry; immutable once created.
class TdrEvent {
 public:
  TdrEvent() = default;
  TdrEvent(std::string text, TDateTime timestamp) : text_(std::move(text)), timestamp_(timestamp) {}
  const std::string& Text() const { return text_; }
  TDateTime Timestamp() const { return timestamp_; }
  // "<default date-time text>  - <text>" (two blanks before the hyphen, one after).
  std::string DisplayText() const;

 private:
  std::string text_;
  TDateTime timestamp_ = 0;
};

// A block of consecutive entries, oldest first. Slots below the count that the log had
// published when a snapshot was taken never change again.
struct TdrEventBlock {
  static constexpr int kSize = 1024;
  std::array<TdrEvent, kSize> events;
};

// The log as it was at one moment, newest first. It shares the log's blocks: taking one
// copies a block reference per 1,024 entries, and later Adds do not change it. Used by
// one thread at a time; it needs no lock.
class TdrEventSnapshot {
 public:
  int Count() const { return count_; }
  // The entry at a zero-based index, 0 the newest. Raises EListError outside
  // 0..Count()-1.
  const TdrEvent& Items(int index) const;
  // Entries are numbered in the order they were added, from 0 for the log's first; the
  // number after the newest entry's, so the entry at index i is End() - 1 - i.
  std::uint64_t End() const { return end_; }

 private:
  friend class TdrEventLog;
  std::vector<std::shared_ptr<const TdrEventBlock>> blocks_;  // oldest first
  int first_ = 0;  // slot of the oldest entry in blocks_.front()
  int count_ = 0;
  std::uint64_t end_ = 0;
};

struct TdrFilterMemory;

class TdrEventEnum;

class TdrEventLog {
 public:
  // The log keeps its newest kMaxEntries entries and drops older ones.
  static constexpr int kMaxEntries = 100000;

  TdrEventLog();
  ~TdrEventLog();
  TdrEventLog(const TdrEventLog&) = delete;
  TdrEventLog& operator=(const TdrEventLog&) = delete;

  // An entry keeps at most this many bytes of its text; a longer text keeps its first
  // kMaxTextBytes bytes followed by msg::kTextCut with its whole length.
  static constexpr std::size_t kMaxTextBytes = 4096;

  // Adds an entry stamped with the current local date-time, in constant time (a text
  // beyond kMaxTextBytes is cut first). Any thread.
  void Add(std::string text);
  // Number of entries. Does not lock: hold Lock() around a Count() test and the Items()
  // read that depends on it.
  int Count() const { return count_.load(std::memory_order_acquire); }
  // The entry at a zero-based index, 0 the newest. Does not lock (see Count). Raises
  // EListError outside 0..Count()-1.
  const TdrEvent& Items(int index) const;
  // Every entry as it is now; holds the lock only while block references are copied.
  // Any thread.
  TdrEventSnapshot Snapshot();
  // An enumerator that holds the log's lock until it is destroyed.
  std::unique_ptr<TdrEventEnum> GetEnumerator();
  // The newest entry's DisplayText, or empty text for an empty log; takes the lock to
  // copy the entry only.
  std::string LatestDisplayText();

  // What filters kept of this log, remembered by DumpEventLog between pages
  // (drLogDump.h). It has a lock of its own and never takes the log's. Any thread.
  TdrFilterMemory& FilterMemory() { return *filterMemory_; }

  void Lock() { lock_.lock(); }
  void Unlock() { lock_.unlock(); }
  // Takes the lock only when no other thread holds it; true when taken (then Unlock).
  bool TryLock() { return lock_.try_lock(); }

 private:
  std::recursive_mutex lock_;
  std::deque<std::shared_ptr<TdrEventBlock>> blocks_;  // oldest first; guarded by lock_
  int first_ = 0;                                      // slot of the oldest entry in blocks_.front()
  std::atomic<int> count_{0};
  std::uint64_t added_ = 0;                            // entries ever added; guarded by lock_
  std::unique_ptr<TdrFilterMemory> filterMemory_;
};

// Walks the log newest first while holding its lock:
//   auto e = log.GetEnumerator(); while (e->MoveNext()) use(e->Current());
// Readers that do more than copy use a Snapshot instead, so that writers never wait.
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
