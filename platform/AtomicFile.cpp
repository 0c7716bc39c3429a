// The parts of the atomic writer that do not depend on the system.
#include "platform/AtomicFile.h"

#include <algorithm>
#include <cstring>

#include "platform/PendingContent.h"
#include "platform/TestHooks.h"

namespace sv::fs {

PendingContent::PendingContent(std::function<void(const char*, std::size_t)> writeOut)
    : writeOut_(std::move(writeOut)) {}

bool PendingContent::AnnouncedFits() const { return announced_ > 0 && announced_ <= AtomicFile::kBufferSize; }

void PendingContent::Grow(std::size_t size) {
  if (capacity_ >= size) return;
  auto larger = std::make_unique_for_overwrite<char[]>(size);
  if (used_ > 0) std::memcpy(larger.get(), buffer_.get(), used_);
  buffer_ = std::move(larger);
  capacity_ = size;
}

void PendingContent::Flush() {
  if (used_ > 0) writeOut_(buffer_.get(), used_);
  used_ = 0;
}

void PendingContent::Write(const char* data, std::size_t size) {
  if (used_ + size > AtomicFile::kBufferSize) {
    Flush();
    if (size >= AtomicFile::kBufferSize) return writeOut_(data, size);
  }
  if (capacity_ == 0) Grow(AnnouncedFits() ? static_cast<std::size_t>(announced_) : AtomicFile::kBufferSize);
  Grow(used_ + size);
  std::memcpy(buffer_.get() + used_, data, size);
  used_ += size;
}

char* PendingContent::Room(std::size_t minimum, std::size_t& size) {
  minimum = std::min(minimum, AtomicFile::kLargeBuffer);
  if (capacity_ - used_ < minimum) {
    Grow(std::max(AnnouncedFits() ? static_cast<std::size_t>(announced_) : AtomicFile::kLargeBuffer, minimum));
    if (capacity_ - used_ < minimum) Flush();
  }
  size = capacity_ - used_;
  return buffer_.get() + used_;
}

std::function<void(const std::string&)>& CommitHook() {
  static std::function<void(const std::string&)> hook;
  return hook;
}

std::optional<std::uint64_t>& FreeSpaceLimit() {
  static std::optional<std::uint64_t> limit;
  return limit;
}

void AtomicFile::Write(const char* data, std::size_t size) {
  AtomicFileState& state = State();
  if (!state.Discarding()) state.pending.Write(data, size);  // discarding: see the constructor
}

// While discarding, the room still takes the bytes, which Placed then drops.
char* AtomicFile::Room(std::size_t minimum, std::size_t& size) { return State().pending.Room(minimum, size); }

void AtomicFile::Placed(std::size_t n) {
  AtomicFileState& state = State();
  if (!state.Discarding()) state.pending.Placed(n);
}

void AtomicFile::SetTime(std::int64_t unixSeconds) { State().time = unixSeconds; }

void WriteFileAtomic(std::string_view path, std::string_view content) {
  AtomicFile file(path, AtomicFile::Durability::Durable);
  file.Write(content.data(), content.size());
  file.Commit();
}

void SetCommitHookForTesting(std::function<void(const std::string& tempPath)> hook) {
  CommitHook() = std::move(hook);
}

void LimitFreeSpaceForTesting(std::optional<std::uint64_t> bytes) { FreeSpaceLimit() = bytes; }

}  // namespace sv::fs
