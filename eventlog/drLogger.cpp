#include "eventlog/drLogger.h"

#include <mutex>

#include "base/Exception.h"
#include "base/Text.h"
#include "platform/Clock.h"
#include "platform/Locale.h"

namespace sv {

std::string TdrEvent::DisplayText() const {
  return Format("%s  - %s", DateTimeToText(timestamp_), text_);
}

void TdrEventLog::Add(std::string text) {
  std::scoped_lock lock(lock_);
  // The time is read under the lock, so the order of the entries is the order of their
  // times. Appending to the back and dropping from the front both take constant time.
  events_.emplace_back(std::move(text), Now());
  if (events_.size() > static_cast<std::size_t>(kMaxEntries)) events_.pop_front();
  count_.store(static_cast<int>(events_.size()), std::memory_order_release);
}

const TdrEvent& TdrEventLog::Items(int index) const {
  const int count = static_cast<int>(events_.size());
  if (index < 0 || index >= count) throw EListError(index);
  return events_[count - 1 - index];
}

std::unique_ptr<TdrEventEnum> TdrEventLog::GetEnumerator() {
  return std::make_unique<TdrEventEnum>(*this);
}

std::string TdrEventLog::LatestDisplayText() {
  std::scoped_lock lock(lock_);
  return events_.empty() ? std::string() : Items(0).DisplayText();
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
