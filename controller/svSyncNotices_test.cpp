#include "controller/svSyncNotices.h"

#include <gtest/gtest.h>

#include "base/Messages.h"
#include "base/Text.h"

namespace sv {
namespace {

using Kind = TRunOutcome::Kind;

// Runs a series of synchronisations through the notices and lists what was told: "fail
// TEXT" or "ok" for each notice, in order.
std::vector<std::string> Told(const std::vector<std::pair<TRunOutcome, bool>>& runs) {
  TSyncNotices notices;
  std::vector<std::string> told;
  for (const auto& [outcome, enabled] : runs) {
    const std::optional<TSyncNotice> notice = notices.RunEnded(outcome, enabled);
    if (!notice) continue;
    if (notice->title == msg::kNoticeFailedTitle) told.push_back("fail " + notice->text);
    else if (notice->title == msg::kNoticeRecoveredTitle) told.push_back("ok");
    else told.push_back("? " + notice->title);
  }
  return told;
}

TEST(SyncNotices, OneNoticePerFailureStreakOneOnRecoveryNoneWhenOff) {
  const TRunOutcome ok{Kind::kSucceeded, "", "", {}};
  const TRunOutcome refused{Kind::kFailed, "", "refused", {}};
  const TRunOutcome bFails{Kind::kFailed, "b", "bad reply", {}};
  const TRunOutcome paused{Kind::kStopped, "b", "paused", {}};
  const std::string bText = Format(msg::kNoticeFailedProject, "b", "bad reply");
  const struct {
    const char* what;
    std::vector<std::pair<TRunOutcome, bool>> runs;
    std::vector<std::string> told;
  } cases[] = {
      {"all well", {{ok, true}, {ok, true}}, {}},
      {"a streak", {{ok, true}, {refused, true}, {refused, true}, {refused, true}, {ok, true}, {ok, true}},
       {"fail refused", "ok"}},
      {"another failure", {{refused, true}, {bFails, true}, {bFails, true}}, {"fail refused", "fail " + bText}},
      {"a pause changes nothing", {{refused, true}, {paused, true}, {refused, true}, {ok, true}},
       {"fail refused", "ok"}},
      {"off", {{refused, false}, {ok, false}, {bFails, false}}, {}},
      {"turned on during a streak", {{refused, false}, {refused, true}, {ok, true}}, {}},
      {"turned off during a streak", {{refused, true}, {ok, false}, {refused, true}}, {"fail refused", "fail refused"}},
  };
  for (const auto& c : cases) EXPECT_EQ(Told(c.runs), c.told) << c.what;
}

}  // namespace
}  // namespace sv
