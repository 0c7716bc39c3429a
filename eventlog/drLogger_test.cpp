#include "eventlog/drLogger.h"

#include <gtest/gtest.h>

#include <future>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "base/Exception.h"
#include "base/Messages.h"
#include "base/Text.h"
#include "platform/Clock.h"
#include "platform/Locale.h"

namespace sv {
namespace {

// True when another thread can take the log's lock at this moment.
bool LockIsFree(TdrEventLog& log) {
  return std::async(std::launch::async, [&log] {
           const bool taken = log.TryLock();
           if (taken) log.Unlock();
           return taken;
         }).get();
}

std::vector<std::string> Walk(TdrEventLog& log) {
  std::vector<std::string> texts;
  auto e = log.GetEnumerator();
  while (e->MoveNext()) texts.push_back(e->Current().Text());
  return texts;
}

class EventLog : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = UserFormatSettings();
    TFormatSettings fs;
    fs.shortDateFormat = "%-d.%-m.%Y";
    fs.longTimeFormat = "%H:%M:%S";
    SetUserFormatSettings(fs);
  }
  void TearDown() override { SetUserFormatSettings(saved_); }

 private:
  TFormatSettings saved_;
};

TEST_F(EventLog, DisplayTextJoinsDateTimeAndText) {
  TdrEvent noon(msg::kInitialising, EncodeDateTime(2026, 12, 6, 12, 31, 57));
  EXPECT_EQ(noon.DisplayText(), "6.12.2026 12:31:57  - Inicijalizacija podataka");
  // Exactly midnight shows the date alone; text passes unchanged, blanks and all.
  TdrEvent midnight(Cp(" Brisanje č \r\n"), EncodeDate(2026, 1, 2));
  EXPECT_EQ(midnight.DisplayText(), "2.1.2026  - " + Cp(" Brisanje č \r\n"));
  EXPECT_EQ(TdrEvent("", EncodeDate(2026, 1, 2) + 1.0 / 86400).DisplayText(),
            "2.1.2026 00:00:01  - ");
}

TEST_F(EventLog, EmptyLog) {
  TdrEventLog log;
  EXPECT_EQ(log.Count(), 0);
  EXPECT_EQ(log.LatestDisplayText(), "");
  EXPECT_TRUE(Walk(log).empty());
  try {
    log.Items(0);
    FAIL() << "Items(0) of an empty log";
  } catch (const EListError& e) {
    EXPECT_EQ(e.Message(), "List index out of bounds (0)");
  }
}

TEST_F(EventLog, NewestFirstWithTimesReadAtAdding) {
  TdrEventLog log;
  const TDateTime before = Now();
  log.Add("first");
  log.Add("second");
  const TDateTime after = Now();
  ASSERT_EQ(log.Count(), 2);
  EXPECT_EQ(log.Items(0).Text(), "second");
  EXPECT_EQ(log.Items(1).Text(), "first");
  EXPECT_LE(before, log.Items(1).Timestamp());
  EXPECT_LE(log.Items(1).Timestamp(), log.Items(0).Timestamp());
  EXPECT_LE(log.Items(0).Timestamp(), after);
  EXPECT_EQ(Walk(log), (std::vector<std::string>{"second", "first"}));
  EXPECT_EQ(log.LatestDisplayText(), log.Items(0).DisplayText());
  EXPECT_THROW(log.Items(2), EListError);
  EXPECT_THROW(log.Items(-1), EListError);
}

TEST_F(EventLog, EnumeratorPastTheEnd) {
  TdrEventLog log;
  log.Add("only");
  auto e = log.GetEnumerator();
  EXPECT_THROW(e->Current(), EListError);  // before the first MoveNext
  EXPECT_TRUE(e->MoveNext());
  EXPECT_EQ(e->Current().Text(), "only");
  EXPECT_FALSE(e->MoveNext());
  EXPECT_FALSE(e->MoveNext());
  EXPECT_THROW(e->Current(), EListError);
}

TEST_F(EventLog, KeepsTheNewestEntriesOnly) {
  TdrEventLog log;
  for (int i = 0; i <= TdrEventLog::kMaxEntries; ++i) log.Add(std::to_string(i));
  ASSERT_EQ(log.Count(), TdrEventLog::kMaxEntries);
  EXPECT_EQ(log.Items(0).Text(), std::to_string(TdrEventLog::kMaxEntries));
  EXPECT_EQ(log.Items(TdrEventLog::kMaxEntries - 1).Text(), "1");
  EXPECT_THROW(log.Items(TdrEventLog::kMaxEntries), EListError);

  const std::vector<std::string> walked = Walk(log);
  ASSERT_EQ(walked.size(), std::size_t(TdrEventLog::kMaxEntries));
  for (int i = 0; i < TdrEventLog::kMaxEntries; ++i)
    ASSERT_EQ(walked[i], std::to_string(TdrEventLog::kMaxEntries - i));
  log.Add("next");
  EXPECT_EQ(log.Count(), TdrEventLog::kMaxEntries);
  EXPECT_EQ(log.Items(0).Text(), "next");
  EXPECT_EQ(log.Items(TdrEventLog::kMaxEntries - 1).Text(), "2");
}

// A text up to the limit is kept whole; a longer one (a server's 1 MiB error reply) keeps
// its head and a mark with its whole length.
TEST_F(EventLog, LongTextsAreCutWithAMark) {
  const std::size_t limit = TdrEventLog::kMaxTextBytes;
  for (const std::size_t size : {limit, limit + 1, std::size_t{1} << 20}) {
    TdrEventLog log;
    const std::string text = std::string(size - 1, 'r') + "!";
    log.Add(text);
    const std::string& kept = log.Items(0).Text();
    if (size <= limit) {
      EXPECT_EQ(kept, text);
      continue;
    }
    EXPECT_EQ(kept, std::string(limit, 'r') + Format(msg::kTextCut, size)) << size;
  }
}

TEST_F(EventLog, EnumeratorHoldsTheLockForItsWholeLife) {
  TdrEventLog log;
  log.Add("a");
  std::future<void> writer;
  {
    auto e = log.GetEnumerator();
    EXPECT_FALSE(LockIsFree(log));
    // A writer started now must wait: the walk sees the one entry, whenever it runs.
    writer = std::async(std::launch::async, [&log] { log.Add("b"); });
    EXPECT_TRUE(e->MoveNext());
    EXPECT_FALSE(e->MoveNext());
    EXPECT_FALSE(LockIsFree(log));
    EXPECT_EQ(log.Count(), 1);
    // The lock is recursive: the walking thread may still add and read the newest text.
    log.Add("own");
    EXPECT_EQ(log.Items(0).Text(), "own");
    EXPECT_EQ(log.LatestDisplayText(), log.Items(0).DisplayText());
  }
  writer.get();
  EXPECT_TRUE(LockIsFree(log));
  EXPECT_EQ(log.Count(), 3);
  EXPECT_EQ(log.Items(0).Text(), "b");
}

TEST_F(EventLog, EnumeratorReleasesTheLockWhenTheWalkRaises) {
  TdrEventLog log;
  log.Add("a");
  EXPECT_THROW(
      {
        auto e = log.GetEnumerator();
        while (e->MoveNext()) throw std::runtime_error("walk failed");
      },
      std::runtime_error);
  EXPECT_TRUE(LockIsFree(log));
}

TEST_F(EventLog, ConcurrentWritersLoseNothing) {
  TdrEventLog log;
  constexpr int kThreads = 4, kEach = 2000;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&log, t] {
      for (int i = 0; i < kEach; ++i) log.Add(std::to_string(t) + ":" + std::to_string(i));
    });
  for (auto& t : threads) t.join();
  ASSERT_EQ(log.Count(), kThreads * kEach);
  // Each writer's entries appear in its own order, newest first.
  std::vector<int> next(kThreads, kEach - 1);
  for (const std::string& text : Walk(log)) {
    const int t = text[0] - '0';
    ASSERT_EQ(text, std::to_string(t) + ":" + std::to_string(next[t]--));
  }
}

// A snapshot keeps the entries of its moment, whatever is added or dropped afterwards,
// at the block boundaries and in a full log alike.
TEST_F(EventLog, SnapshotKeepsItsMomentWhileTheLogGoesOn) {
  constexpr int kBlock = TdrEventBlock::kSize, kMax = TdrEventLog::kMaxEntries;
  for (int added : {1, kBlock, kBlock + 1, kMax + kBlock - 1}) {
    TdrEventLog log;
    for (int i = 0; i < added; ++i) log.Add(std::to_string(i));
    const TdrEventSnapshot s = log.Snapshot();
    for (int i = 0; i < 2 * kBlock + 3; ++i) log.Add("later");
    const int kept = std::min(added, kMax);
    ASSERT_EQ(s.Count(), kept) << added;
    EXPECT_EQ(s.Items(0).Text(), std::to_string(added - 1)) << added;
    EXPECT_EQ(s.Items(kept - 1).Text(), std::to_string(added - kept)) << added;
    EXPECT_THROW(s.Items(kept), EListError);
    EXPECT_EQ(log.Items(0).Text(), "later");
    EXPECT_EQ(log.Count(), std::min(added + 2 * kBlock + 3, kMax));
  }
}

}  // namespace
}  // namespace sv
