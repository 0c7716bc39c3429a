#pragma once
// TMemoryBudget: a number of bytes that the sessions of one server share, so that what
// all clients make it hold at once stays bounded. A session takes a share before it
// holds that much and gives it back when done. Any thread.
#include <cstdint>
#include <mutex>

namespace sv {

class TMemoryBudget {
 public:
  explicit TMemoryBudget(std::uint64_t total) : total_(total) {}
  TMemoryBudget(const TMemoryBudget&) = delete;
  TMemoryBudget& operator=(const TMemoryBudget&) = delete;

  std::uint64_t Total() const { return total_; }

  // A part of the budget, given back when it goes. Empty when nothing was taken.
  class Share {
   public:
    Share() = default;
    Share(Share&& other) noexcept;
    Share& operator=(Share&& other) noexcept;
    ~Share();
    explicit operator bool() const { return budget_ != nullptr; }

   private:
    friend class TMemoryBudget;
    Share(TMemoryBudget* budget, std::uint64_t bytes) : budget_(budget), bytes_(bytes) {}
    void Release() noexcept;
    TMemoryBudget* budget_ = nullptr;
    std::uint64_t bytes_ = 0;
  };

  // `bytes` of the budget when that many are free now; else an empty share. The budget
  // must outlive its shares.
  Share TryTake(std::uint64_t bytes);

 private:
  std::mutex mutex_;
  const std::uint64_t total_;
  std::uint64_t used_ = 0;
};

}  // namespace sv
