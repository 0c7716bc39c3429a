#pragma once
// Waiting in a test for a condition, with a bound: a fault fails the test within the
// bound instead of hanging it until the test runner's limit.
#include <chrono>
#include <thread>

namespace sv::test {

// Tests `condition` every millisecond until it holds or `limit` has passed; true when it
// held.
template <typename Condition>
bool WaitFor(Condition condition, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
  const auto until = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= until) return condition();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

}  // namespace sv::test
