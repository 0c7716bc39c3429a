#include "server/MemoryBudget.h"

#include <utility>

namespace sv {

TMemoryBudget::Share::Share(Share&& other) noexcept
    : budget_(std::exchange(other.budget_, nullptr)), bytes_(std::exchange(other.bytes_, 0)) {}

TMemoryBudget::Share& TMemoryBudget::Share::operator=(Share&& other) noexcept {
  if (this != &other) {
    Release();
    budget_ = std::exchange(other.budget_, nullptr);
    bytes_ = std::exchange(other.bytes_, 0);
  }
  return *this;
}

TMemoryBudget::Share::~Share() { Release(); }

void TMemoryBudget::Share::Release() noexcept {
  if (!budget_) return;
  std::scoped_lock lock(budget_->mutex_);
  budget_->used_ -= bytes_;
  budget_ = nullptr;
}

TMemoryBudget::Share TMemoryBudget::TryTake(std::uint64_t bytes) {
  std::scoped_lock lock(mutex_);
  if (bytes > total_ - used_) return {};
  used_ += bytes;
  return Share(this, bytes);
}

}  // namespace sv
