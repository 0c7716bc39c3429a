#include "tests/support/FailingNew.h"

#include <atomic>
#include <cstdlib>
#include <limits>
#include <new>

namespace {

std::atomic<long> gFailAt{0};  // 0: no counting
std::atomic<long> gCount{0};
std::atomic<std::size_t> gLargest{std::numeric_limits<std::size_t>::max()};

void* Allocate(std::size_t size) {
  if (size >= gLargest.load(std::memory_order_relaxed)) throw std::bad_alloc();
  const long failAt = gFailAt.load(std::memory_order_relaxed);
  if (failAt > 0 && ++gCount == failAt) throw std::bad_alloc();
  void* p = std::malloc(size == 0 ? 1 : size);
  if (!p) throw std::bad_alloc();
  return p;
}

void* AllocateOrNull(std::size_t size) noexcept {
  try {
    return Allocate(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

}  // namespace

// Every form that pairs with free(), so that a sanitizer sees matching calls. The aligned
// forms stay the runtime's own and pair among themselves.
void* operator new(std::size_t size) { return Allocate(size); }
void* operator new[](std::size_t size) { return Allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return AllocateOrNull(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return AllocateOrNull(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

namespace sv::test {

FailAllocation::FailAllocation(long n) {
  gCount = 0;
  gFailAt = n;
}
FailAllocation::~FailAllocation() { gFailAt = 0; }
bool FailAllocation::Failed() const { return gCount >= gFailAt; }

FailLargeAllocations::FailLargeAllocations(std::size_t bytes) { gLargest = bytes; }
FailLargeAllocations::~FailLargeAllocations() { gLargest = std::numeric_limits<std::size_t>::max(); }

}  // namespace sv::test
