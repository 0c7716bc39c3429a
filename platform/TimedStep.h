#pragma once
// One asynchronous step on an io_context, run for at most a time limit: the one wait
// behind every socket read, write, connect and lookup that must not outlast its limit.
#include <asio.hpp>

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>

namespace sv {

// How a step ended: its error and the bytes it moved.
struct StepOutcome {
  asio::error_code error;
  std::size_t bytes = 0;
};

// How a step that did not end in time is settled once aborted. kRun runs `io` until
// nothing is left, so the aborted operation has let go of its buffers when the wait
// returns; kPoll runs only what is ready, for a step whose abort cannot hurry its end
// (a name lookup).
enum class Settle { kRun, kPoll };

// Starts one step with `start`, which is given the handler to complete, callable as
// (const asio::error_code&, std::size_t), and runs `io` until the step ends or `limit`
// passes. Returns the step's outcome; nothing when the limit passed or `io` was
// stopped first, after aborting the step with `abort` and settling as `settle` says.
//
// The caller restarts `io` before calling; from then on another thread cancels the step
// by stopping `io` (it then ends as not done, at once), or by posting to `io` work that
// aborts it (it then ends with the abort's error). A handler that completes late, after
// this returned, writes into storage it owns and changes nothing, however late it runs:
// the next step on `io` waits for its own handler alone.
template <typename Start, typename Abort>
std::optional<StepOutcome> RunTimedStep(asio::io_context& io, std::chrono::steady_clock::duration limit, Start start,
                                        Abort abort, Settle settle) {
  auto outcome = std::make_shared<std::optional<StepOutcome>>();
  start([outcome](const asio::error_code& ec, std::size_t n) { outcome->emplace(StepOutcome{ec, n}); });
  const auto deadline = std::chrono::steady_clock::now() + limit;
  // One handler at a time, so a late handler of an earlier step cannot hold this one past
  // its own end.
  while (!*outcome && io.run_one_until(deadline) > 0) {
  }
  if (*outcome) return *outcome;
  abort();
  io.restart();
  if (settle == Settle::kRun) {
    io.run();
  } else {
    io.poll();
  }
  return std::nullopt;
}

}  // namespace sv
