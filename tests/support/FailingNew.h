#pragma once
// Test support: operator new that fails on request, for tests of what the program does
// when memory runs out. Replacing operator new is program-wide, so FailingNew.cpp is
// linked only into the test programs that use it (see CMakeLists.txt).
#include <cstddef>

namespace sv::test {

// While it lives, the n-th allocation counted from its start (1: the next one) raises
// std::bad_alloc; every other allocation succeeds. For a loop that fails each allocation
// of an operation in turn until the operation makes none that fails.
class FailAllocation {
 public:
  explicit FailAllocation(long n);
  ~FailAllocation();
  FailAllocation(const FailAllocation&) = delete;
  FailAllocation& operator=(const FailAllocation&) = delete;
  // Whether the n-th allocation came (and failed).
  bool Failed() const;
};

// While it lives, every allocation of at least `bytes` bytes raises std::bad_alloc, on
// any thread.
class FailLargeAllocations {
 public:
  explicit FailLargeAllocations(std::size_t bytes);
  ~FailLargeAllocations();
  FailLargeAllocations(const FailLargeAllocations&) = delete;
  FailLargeAllocations& operator=(const FailLargeAllocations&) = delete;
};

}  // namespace sv::test
