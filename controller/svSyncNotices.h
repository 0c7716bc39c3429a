#pragma once
// TSyncNotices: which synchronisations the user hears of outside the console. A failure
// is told once, when it first appears; while the same failure (the same project, the
// same message) repeats, nothing more is told; the first success after a told failure is
// told too. A stopped synchronisation (a pause) tells nothing and changes nothing.
// Main thread.
#include <optional>
#include <string>

#include "controller/svSynchronise.h"

namespace sv {

struct TSyncNotice {
  std::string title;
  std::string text;
};

class TSyncNotices {
 public:
  // Called once at the end of every synchronisation. `enabled`: the user wants notices;
  // when off, the failures are still followed, so that turning notices on does not
  // bring up a failure that was there before. Returns the notice to show, if any.
  std::optional<TSyncNotice> RunEnded(const TRunOutcome& outcome, bool enabled);
  // The last synchronisation that ended (not stopped) failed.
  bool Failing() const { return failure_.has_value(); }

 private:
  std::optional<std::string> failure_;  // the failure of the current streak
  bool told_ = false;                   // a notice told of the current streak
};

}  // namespace sv
