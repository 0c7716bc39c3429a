#include "eventlog/drLogDump.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <stop_token>
#include <thread>

#include "base/Exception.h"
#include "base/Messages.h"
#include "base/Text.h"
#include "eventlog/drLogger.h"
#include "platform/Locale.h"

namespace sv {
namespace {

// Rows show number and text only, so the texts do not depend on the clock.
const std::string kPage =
    "<TABLE>\r\n<!--{%EVENTLOG%}-->\r\n<TR>{%EVENTID%}:{%EVENTTEXT%}</TR>\r\n"
    "<!--{%/EVENTLOG%}-->\r\n<A HREF=\"?page={%EVENTPREVPAGE%}\">&lt;</A>"
    "<A HREF=\"?page={%EVENTNEXTPAGE%}\">&gt;</A>";

std::string Rows(int from, int to, int firstEvent) {
  std::string out;
  for (int n = from, e = firstEvent; n <= to; ++n, --e)
    out += "\r\n<TR>" + std::to_string(n) + ":e" + std::to_string(e) + "</TR>\r\n";
  return out;
}

std::string Expected(const std::string& rows, const std::string& prev, const std::string& next) {
  return "<TABLE>\r\n" + rows + "\r\n<A HREF=\"?page=" + prev + "\">&lt;</A><A HREF=\"?page=" +
         next + "\">&gt;</A>";
}

class DumpEventLogTest : public ::testing::Test {
 protected:
  void AddNumbered(int count) {
    for (int i = 1; i <= count; ++i) log.Add("e" + std::to_string(i));
  }
  std::string Dump(const std::string& page, const std::string& filter = "") {
    return DumpEventLog(log, kPage, page, filter, 20);
  }
  TdrEventLog log;
};

TEST_F(DumpEventLogTest, FortyFiveEventsPagedByTwenty) {
  AddNumbered(45);  // e45 is the newest, numbered 1
  EXPECT_EQ(Dump("1"), Expected(Rows(1, 20, 45), "1", "2"));
  EXPECT_EQ(Dump("2"), Expected(Rows(21, 40, 25), "1", "3"));
  EXPECT_EQ(Dump("3"), Expected(Rows(41, 45, 5), "2", "4"));
  EXPECT_EQ(Dump("4"), Expected("", "3", "5"));
  // Not integer text: page 1.
  EXPECT_EQ(Dump(""), Expected(Rows(1, 20, 45), "1", "2"));
  EXPECT_EQ(Dump("abc"), Expected(Rows(1, 20, 45), "1", "2"));
  EXPECT_EQ(Dump("1.5"), Expected(Rows(1, 20, 45), "1", "2"));
  EXPECT_EQ(Dump("$2"), Expected(Rows(21, 40, 25), "1", "3"));
}

TEST_F(DumpEventLogTest, PageZeroAndBelowShowAtMostTheNewestEvent) {
  AddNumbered(45);
  EXPECT_EQ(Dump("0"), Expected(Rows(1, 1, 45), "1", "1"));
  EXPECT_EQ(Dump("-3"), Expected(Rows(1, 1, 45), "1", "-2"));
  // The walk stops after the first event even when it does not pass the filter.
  EXPECT_EQ(Dump("0", "e44"), Expected("", "1", "1"));
  EXPECT_EQ(Dump("0", "e45"), Expected(Rows(1, 1, 45), "1", "1"));
}

TEST_F(DumpEventLogTest, PagesAtTheEndsOfThe32BitRangeNeitherWrapNorOverflow) {
  AddNumbered(45);
  EXPECT_EQ(Dump("2147483647"), Expected("", "2147483646", "2147483648"));
  EXPECT_EQ(Dump("-2147483648"), Expected(Rows(1, 1, 45), "1", "-2147483647"));
  // 20 * (107374184 - 1) wraps a 32-bit product to a small positive skip.
  EXPECT_EQ(Dump("107374184"), Expected("", "107374183", "107374185"));
}

TEST_F(DumpEventLogTest, FilterIgnoresCaseNationalLettersIncludedAndNumbersKeptEvents) {
  log.Add("Pokrenuta sinkronizacija");
  log.Add(Cp("Nešto drugo"));
  log.Add("SINKRONIZACIJA projekta");
  log.Add("");
  log.Add(Cp("Čitanje ĆŠŽĐ"));
  const std::string page = "<!--{%EVENTLOG%}-->[{%EVENTID%}:{%EVENTTEXT%}]<!--{%/EVENTLOG%}-->";
  auto dump = [&](const std::string& filter) { return DumpEventLog(log, page, "1", filter, 20); };
  EXPECT_EQ(dump("sinkronizacija"), "[1:SINKRONIZACIJA projekta][2:Pokrenuta sinkronizacija]");
  EXPECT_EQ(dump(Cp("čitanje ćšžđ")), Cp("[1:Čitanje ĆŠŽĐ]"));
  EXPECT_EQ(dump(Cp("^č\\w+ [[:upper:]]{4}$")), Cp("[1:Čitanje ĆŠŽĐ]"));
  // An empty match never counts, and an empty text never passes a filter.
  EXPECT_EQ(dump("^"), "");
  EXPECT_EQ(dump(".*"), Cp("[1:Čitanje ĆŠŽĐ][2:SINKRONIZACIJA projekta][3:Nešto drugo]"
                           "[4:Pokrenuta sinkronizacija]"));
  EXPECT_EQ(dump(" "), Cp("[1:Čitanje ĆŠŽĐ][2:SINKRONIZACIJA projekta][3:Nešto drugo]"
                          "[4:Pokrenuta sinkronizacija]"));
  // Without a filter the empty event is shown.
  EXPECT_EQ(dump(""), Cp("[1:Čitanje ĆŠŽĐ][2:][3:SINKRONIZACIJA projekta][4:Nešto drugo]"
                         "[5:Pokrenuta sinkronizacija]"));
}

// Whether one pcre2_match over the whole text, as the filter promises, finds the pattern.
bool MatchesWhole(const std::string& pattern, const std::string& text) {
  int error = 0;
  PCRE2_SIZE offset = 0;
  pcre2_code* code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()), pattern.size(), PCRE2_CASELESS,
                                   &error, &offset, nullptr);
  if (!code) return false;
  pcre2_match_data* data = pcre2_match_data_create_from_pattern(code, nullptr);
  const int rc = pcre2_match(code, reinterpret_cast<PCRE2_SPTR>(text.data()), text.size(), 0, PCRE2_NOTEMPTY, data,
                             nullptr);
  pcre2_match_data_free(data);
  pcre2_code_free(code);
  return rc >= 0;
}

// A filter sees each event's text whole: \G, backtracking verbs, anchors and lookbehind
// keep or drop an event as one match over the whole text does.
TEST_F(DumpEventLogTest, FilterKeepsWhatOneMatchOverTheWholeTextFinds) {
  const std::string text = msg::kLocatingSettings;  // "Lociranje konfiguracijske datoteke"
  const struct {
    std::string filter;
    bool kept;
  } cases[] = {
      {"\\Guracijske", false}, {"\\GLociranje", true},    {"o(*COMMIT)x|ske", false},
      {"s(*COMMIT)ke", true},  {"^konfig", false},        {"datoteke$", true},
      {"\\bkonf", true},       {"(?<=ranje )konf", true}, {"(?<!\\s)konf", false},
      {"(?<=x)dat", false},
  };
  log.Add(text);
  const std::string page = "<!--{%EVENTLOG%}-->[{%EVENTTEXT%}]<!--{%/EVENTLOG%}-->";
  for (const auto& c : cases) {
    EXPECT_EQ(MatchesWhole(c.filter, text), c.kept) << c.filter;
    EXPECT_EQ(DumpEventLog(log, page, "1", c.filter, 20), c.kept ? "[" + text + "]" : "") << c.filter;
  }
}

TEST_F(DumpEventLogTest, InvalidFilterRaisesAtTheFirstTestedEventAndReleasesTheLock) {
  // Nothing is tested: no error.
  EXPECT_EQ(Dump("1", "("), Expected("", "1", "2"));
  EXPECT_EQ(DumpEventLog(log, "x{%EVENTNEXTPAGE%}", "1", "(", 20), "x2");
  log.Add("a");
  EXPECT_EQ(DumpEventLog(log, "x", "1", "(", 20), "x");
  try {
    Dump("1", "(");
    FAIL() << "no error";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(),
              "TPerlRegEx.Compile() - Error in regex at offset 1: missing closing parenthesis");
  }
  // Another thread can add: the walk's lock was released.
  std::thread writer([&] { log.Add("b"); });
  writer.join();
  EXPECT_EQ(log.Count(), 2);
}

TEST_F(DumpEventLogTest, PageWithoutBlockChangesOnlyPagingPlaceholders) {
  AddNumbered(3);
  const std::string page = "<P>{%EVENTID%} {%EVENTPREVPAGE%} {%EVENTNEXTPAGE%} {%EVENTNEXTPAGE%}"
                           "<!--{%EVENTLOG%}--></P>";
  EXPECT_EQ(DumpEventLog(log, page, "5", "", 20),
            "<P>{%EVENTID%} 4 6 {%EVENTNEXTPAGE%}<!--{%EVENTLOG%}--></P>");
}

TEST_F(DumpEventLogTest, BlockRunsFromFirstStartToLastEndMarkerAcrossLines) {
  AddNumbered(2);
  const std::string page =
      "A<!--{%EVENTLOG%}-->\r\n({%EVENTID%})<!--{%/EVENTLOG%}-->\r\n"
      "<!--{%EVENTLOG%}-->[{%EVENTID%}]<!--{%/EVENTLOG%}-->Z";
  EXPECT_EQ(DumpEventLog(log, page, "1", "", 20),
            "A\r\n(1)<!--{%/EVENTLOG%}-->\r\n<!--{%EVENTLOG%}-->[{%EVENTID%}]"
            "\r\n(2)<!--{%/EVENTLOG%}-->\r\n<!--{%EVENTLOG%}-->[{%EVENTID%}]Z");
}

TEST_F(DumpEventLogTest, RowPlaceholdersAreExactAndFilledOnceARow) {
  log.Add("x");
  const std::string page = "<!--{%EVENTLOG%}-->{%EVENTID%}{%EVENTID%}{%eventid%}{%EVENTTEXT%}"
                           "<!--{%/EVENTLOG%}-->{%EVENTTEXT%}";
  EXPECT_EQ(DumpEventLog(log, page, "1", "", 20), "1{%EVENTID%}{%eventid%}x{%EVENTTEXT%}");
}

TEST_F(DumpEventLogTest, EventTextAndTimeAreEscapedAndNeverFilled) {
  TFormatSettings fs;
  fs.shortDateFormat = "%d.%m.%Y";
  fs.longTimeFormat = "%H:%M:%S";
  SetUserFormatSettings(fs);
  log.Add("<b>{%EVENTNEXTPAGE%}</b> & C:\\2008\\$1 {%EVENTTIME%}");
  const std::string page = "<!--{%EVENTLOG%}-->{%EVENTTEXT%}|{%EVENTTIME%}<!--{%/EVENTLOG%}-->"
                           "|{%EVENTNEXTPAGE%}";
  const std::string time = HtmlEscape(DateTimeToText(log.Items(0).Timestamp()));
  EXPECT_EQ(DumpEventLog(log, page, "1", "", 20),
            "&lt;b&gt;{%EVENTNEXTPAGE%}&lt;/b&gt; &amp; C:\\2008\\$1 {%EVENTTIME%}|" + time + "|2");
  EXPECT_NE(time.find('.'), std::string::npos);
}

TEST_F(DumpEventLogTest, PageValuesAreFilledInTheSamePassRowsIncluded) {
  log.Add("{%FILTER%}");
  const std::string page = "{%filter%}<!--{%EVENTLOG%}-->{%FILTER%}={%EVENTTEXT%};"
                           "<!--{%/EVENTLOG%}-->{%FILTER%}{%EVENTPREVPAGE%}";
  EXPECT_EQ(DumpEventLog(log, page, "1", "", 20,
                         {Placeholder::Everywhere("{%FILTER%}", "{%EVENTPREVPAGE%}")}),
            "{%EVENTPREVPAGE%}{%EVENTPREVPAGE%}={%FILTER%};{%EVENTPREVPAGE%}1");
}

// A filter that would match for long is cut off with a message instead: at a PCRE2 limit
// on one event, at the page's time budget (checked between events), or when a stop is
// requested. Without a filter there is nothing to cut off.
TEST_F(DumpEventLogTest, FilterPastItsLimitsOrBudgetGivesAMessage) {
  const std::string tooComplex = Format(msg::kFilterTooComplex, "");
  std::stop_source stopper;
  stopper.request_stop();
  FilterBudget stopped;
  stopped.stop = stopper.get_token();
  struct Case {
    std::string event, filter;
    FilterBudget budget;
    std::string message;  // empty: rendered; ending in "()": any PCRE2 limit text
    int copies = 1;       // of the event in the log
  };
  const Case cases[] = {
      {std::string(40, 'a') + "!", "(a|a)+$", {}, Format(msg::kFilterTooComplex, "match limit exceeded")},
      // A long text is cut when it is logged, so that one match over it stays in bounds:
      // this one fails from every "a" and finds the "k" of the mark.
      {std::string(300000, 'a'), "(a|b)*[xk]", {}, ""},
      {[] {
         std::string text;  // each run costs little, the whole log minutes
         while (text.size() < TdrEventLog::kMaxTextBytes) text += std::string(14, 'a') + "!";
         return text;
       }(),
       "(a|a)+$", {std::chrono::seconds(1), {}}, Format(msg::kFilterTooSlow, 1), 5000},
      {"e1", "e1", stopped, msg::kRequestStopped},
      {"e1", "", stopped, ""},
  };
  for (const Case& c : cases) {
    TdrEventLog one;
    for (int i = 0; i < c.copies; ++i) one.Add(c.event);
    try {
      const std::string page = DumpEventLog(one, "<!--{%EVENTLOG%}-->x<!--{%/EVENTLOG%}-->", "1", c.filter, 20,
                                            {}, c.budget);
      EXPECT_EQ(c.message, "") << c.filter;
      EXPECT_EQ(page, "x");
    } catch (const Exception& e) {
      if (c.message == tooComplex) {
        EXPECT_EQ(e.Message().rfind(tooComplex.substr(0, tooComplex.size() - 1), 0), 0u) << e.Message();
      } else {
        EXPECT_EQ(e.Message(), c.message) << c.filter;
      }
    }
  }
}

// A filter's record serves its pages again without matching an event twice, and follows
// the log: events added since are tested and numbered first, dropped ones are gone. A
// stopped budget shows whether a page had to match anything.
TEST_F(DumpEventLogTest, AFiltersRecordServesPagesAgainWithoutMatchingAndFollowsTheLog) {
  AddNumbered(TdrEventLog::kMaxEntries);  // e100000 is the newest
  std::stop_source stopper;
  stopper.request_stop();
  const FilterBudget none{FilterBudget::kDefaultTime, stopper.get_token()};
  const auto page = [&](const char* number, const FilterBudget& budget = {}) {
    return DumpEventLog(log, kPage, number, "e\\d*0$", 20, {}, budget);  // one event in ten
  };
  const auto refusal = [&](const char* number) {
    try {
      page(number, none);
    } catch (const Exception& e) {
      return e.Message();
    }
    return std::string("(rendered)");
  };
  // The n-th kept event of e1..eN, newest first, is e(N - 10(n-1)) when N ends in 0.
  const auto kept = [](int from, int to, int newest) {
    std::string out;
    for (int n = from; n <= to; ++n) out += "\r\n<TR>" + std::to_string(n) + ":e" + std::to_string(newest - 10 * (n - 1)) + "</TR>\r\n";
    return out;
  };
  EXPECT_EQ(page("50"), Expected(kept(981, 1000, 100000), "49", "51"));
  EXPECT_EQ(page("50", none), Expected(kept(981, 1000, 100000), "49", "51"));
  EXPECT_EQ(page("3", none), Expected(kept(41, 60, 100000), "2", "4"));
  EXPECT_EQ(refusal("500"), msg::kRequestStopped);  // beyond what was tested
  EXPECT_EQ(page("500"), Expected(kept(9981, 10000, 100000), "499", "501"));  // down to e10

  for (int i = 100001; i <= 100010; ++i) log.Add("e" + std::to_string(i));  // drops e1..e10
  EXPECT_EQ(refusal("50"), msg::kRequestStopped);  // the new ones are untested
  EXPECT_EQ(page("50"), Expected(kept(981, 1000, 100010), "49", "51"));
  EXPECT_EQ(page("1", none), Expected(kept(1, 20, 100010), "1", "2"));
  EXPECT_EQ(page("500", none), Expected(kept(9981, 10000, 100010), "499", "501"));
  EXPECT_EQ(page("501", none), Expected("", "500", "502"));  // e10 is gone
}

// The log's lock is never held while a filter is matched: a writer goes on at once while
// a page with a slow filter is rendered, and the render ends when it is stopped.
TEST_F(DumpEventLogTest, AddNeverWaitsForAFilterBeingMatched) {
  std::string slow;  // each run of "a" costs the filter a little, the text about 10 ms
  for (int run = 0; run < 50; ++run) slow += std::string(14, 'a') + "!";
  for (int i = 0; i < 20000; ++i) log.Add(slow);
  std::stop_source stop;
  auto render = std::async(std::launch::async, [&] {
    return DumpEventLog(log, kPage, "1", "(a|a)+$", 20, {}, {std::chrono::hours(1), stop.get_token()});
  });
  // Lets the render start matching; the test passes without this, it only finds the fault.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  auto writer = std::async(std::launch::async, [&] { log.Add("new"); });
  EXPECT_EQ(writer.wait_for(std::chrono::seconds(30)), std::future_status::ready);
  stop.request_stop();
  ASSERT_EQ(render.wait_for(std::chrono::seconds(30)), std::future_status::ready);
  try {
    render.get();
    FAIL() << "the render was not stopped";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), msg::kRequestStopped);
  }
}

}  // namespace
}  // namespace sv
