#include "controller/svSyncNotices.h"

#include "base/Messages.h"
#include "base/Text.h"

namespace sv {

std::optional<TSyncNotice> TSyncNotices::RunEnded(const TRunOutcome& outcome, bool enabled) {
  switch (outcome.kind) {
    case TRunOutcome::Kind::kStopped:
      return std::nullopt;
    case TRunOutcome::Kind::kFailed: {
      std::string failure = outcome.project + '\n' + outcome.message;
      if (failure_ == failure) return std::nullopt;
      failure_ = std::move(failure);
      told_ = enabled;
      if (!enabled) return std::nullopt;
      return TSyncNotice{msg::kNoticeFailedTitle, outcome.project.empty()
                                                      ? outcome.message
                                                      : Format(msg::kNoticeFailedProject, outcome.project,
                                                               outcome.message)};
    }
    case TRunOutcome::Kind::kSucceeded:
      break;
  }
  const bool tell = told_ && enabled;
  failure_.reset();
  told_ = false;
  if (!tell) return std::nullopt;
  return TSyncNotice{msg::kNoticeRecoveredTitle, msg::kNoticeRecovered};
}

}  // namespace sv
