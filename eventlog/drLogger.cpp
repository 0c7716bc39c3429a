#include "eventlog/drLogger.h"

#include <mutex>

#include "base/Exception.h"
#include "base/Messages.h"
#include "eventlog/FilterMemory.h"
#include "base/Text.h"
#include "platform/Clock.h"
#include "platform/Locale.h"

namespace sv {
namespace {

constexpr int kBlock = TdrEventBlock::kSize;

// Entry `index` (0 the newest) of `count` entries kept in blocks whose oldest entry sits
// at slot `first` of the first block.
template <typename Blocks>
const TdrEvent& EntryAt(const Blocks& blocks, int first, int count, int index) {
  if (index < 0 || index >= count) throw EListError(index);
  const int slot = first + (count - 1 - index);
  return blocks[slot / kBlock]->events[slot % kBlock];
}

}  // namespace

std::string TdrEvent::DisplayText() const {
  return Format("%s  - %s", DateTimeToText(timestamp_), text_);
}

const TdrEvent& TdrEventSnapshot::Items(int index) const { return EntryAt(blocks_, first_, count_, index); }

TdrEventLog::TdrEventLog() : filterMemory_(std::make_unique<TdrFilterMemory>()) {}
TdrEventLog::~TdrEventLog() = default;

void TdrEventLog::Add(std::string text) {
  // A long text (a server's whole error reply, a pasted field) would otherwise be kept
  // for every time it is logged.
  if (text.size() > kMaxTextBytes) {
    const std::string mark = Format(msg::kTextCut, text.size());
    text.resize(kMaxTextBytes);
    text += mark;
    text.shrink_to_fit();
  }
  std::shared_ptr<TdrEventBlock> dropped;  // released after the lock, when no snapshot holds it
  std::scoped_lock lock(lock_);
  const int count = count_.load(std::memory_order_relaxed);
  const int slot = first_ + count;
  if (slot == static_cast<int>(blocks_.size()) * kBlock) blocks_.push_back(std::make_shared<TdrEventBlock>());
  // The time is read under the lock, so the order of the entries is the order of their
  // times. The slot is past every published entry: no snapshot reads it.
  blocks_.back()->events[slot % kBlock] = TdrEvent(std::move(text), Now());
  ++added_;
  if (count < kMaxEntries) {
    count_.store(count + 1, std::memory_order_release);
  } else if (++first_ == kBlock) {
    dropped = std::move(blocks_.front());
    blocks_.pop_front();
    first_ = 0;
  }
}

const TdrEvent& TdrEventLog::Items(int index) const { return EntryAt(blocks_, first_, Count(), index); }

TdrEventSnapshot TdrEventLog::Snapshot() {
  TdrEventSnapshot s;
  std::scoped_lock lock(lock_);
  s.blocks_.assign(blocks_.begin(), blocks_.end());
  s.first_ = first_;
  s.count_ = Count();
  s.end_ = added_;
  return s;
}

std::unique_ptr<TdrEventEnum> TdrEventLog::GetEnumerator() {
  return std::make_unique<TdrEventEnum>(*this);
}

std::string TdrEventLog::LatestDisplayText() {
  TdrEvent newest;
  {
    std::scoped_lock lock(lock_);
    if (Count() == 0) return {};
    newest = Items(0);
  }
  return newest.DisplayText();
}

TdrEventEnum::TdrEventEnum(TdrEventLog& log) : log_(log) { log_.Lock(); }

TdrEventEnum::~TdrEventEnum() { log_.Unlock(); }

bool TdrEventEnum::MoveNext() {
  // The position stops one past the end, so calling on after the end cannot overflow.
  if (position_ < log_.Count()) ++position_;
  return position_ < log_.Count();
}

const TdrEvent& TdrEventEnum::Current() const { return log_.Items(position_); }

}  // namespace sv
