#include "platform/Locale.h"

#include <gtest/gtest.h>

#include <clocale>
#include <utility>

#include "tests/support/TestPlatform.h"

namespace sv {
namespace {

void ExpectStyle(const TimeStyle& s, bool leadingZero, bool twentyFour, bool designatorFirst) {
  EXPECT_EQ(s.leadingZero, leadingZero);
  EXPECT_EQ(s.twentyFourHour, twentyFour);
  EXPECT_EQ(s.designatorFirst, designatorFirst);
}

TEST(LocaleFacts, TimeStyleFollowsTheTimePattern) {
  SCOPED_TRACE("patterns as the C library's locales give them");
  ExpectStyle(TimeStyleFromPattern("%H:%M:%S", "", ""), true, true, false);
  ExpectStyle(TimeStyleFromPattern("%T", "", ""), true, true, false);
  ExpectStyle(TimeStyleFromPattern("%k.%M.%S", "", ""), false, true, false);
  ExpectStyle(TimeStyleFromPattern("%-H:%M", "", ""), false, true, false);
  ExpectStyle(TimeStyleFromPattern("%r", "AM", "PM"), true, false, false);
  ExpectStyle(TimeStyleFromPattern("%I:%M:%S %p", "AM", "PM"), true, false, false);
  ExpectStyle(TimeStyleFromPattern("%l:%M:%S %p", "AM", "PM"), false, false, false);
  ExpectStyle(TimeStyleFromPattern("%p %I:%M:%S", "AM", "PM"), true, false, true);
  ExpectStyle(TimeStyleFromPattern("%P %l:%M", "", ""), false, false, true);
}

TEST(LocaleFacts, UnreadablePatternGivesTheDefaultsButKeepsDesignators) {
  TimeStyle s = TimeStyleFromPattern("", "", "");
  ExpectStyle(s, false, false, false);
  EXPECT_EQ(s.am, "am");
  EXPECT_EQ(s.pm, "pm");
  s = TimeStyleFromPattern("%M:%S", "vorm.", "nachm.");
  ExpectStyle(s, false, false, false);
  EXPECT_EQ(s.am, "vorm.");
  EXPECT_EQ(s.pm, "nachm.");
}

// Designators that did not convert, or converted alike, would write morning and
// afternoon the same: "AM" and "PM" stand in for them.
TEST(LocaleFacts, DesignatorsThatCannotTellMorningFromAfternoonBecomeAmAndPm) {
  struct Case {
    const char* am;
    bool amExact;
    const char* pm;
    bool pmExact;
    const char* wantAm;
    const char* wantPm;
  } cases[] = {
      {"vorm.", true, "nachm.", true, "vorm.", "nachm."},  // both converted and apart: kept
      {"", true, "", true, "", ""},                        // 24-hour locale without designators
      {"??", false, "??", false, "AM", "PM"},              // Greek: neither converts
      {"ص", false, "PM", true, "AM", "PM"},                // one of them does not convert
      {"pm", true, "pm", true, "AM", "PM"},                // alike although both converted
  };
  for (const Case& c : cases) {
    std::string am = c.am, pm = c.pm;
    KeepDesignatorsApart(am, c.amExact, pm, c.pmExact);
    EXPECT_EQ(am + "|" + pm, std::string(c.wantAm) + "|" + c.wantPm) << c.am << " / " << c.pm;
  }
}

TEST(LocaleFacts, PicturesOfWindowsBecomePatterns) {
  const std::pair<const char*, const char*> cases[] = {
      {"M/d/yyyy", "%-m/%-d/%Y"},     {"dd. MM. yyyy.", "%d. %m. %Y."}, {"yy-MMM-d", "%y-%m-%-d"},
      {"h:mm:ss tt", "%-I:%M:%S %p"}, {"HH:mm:ss", "%H:%M:%S"},         {"tt hh.m.s", "%p %I.%-M.%-S"},
      {"dddd, d 'de' MMMM", ", %-d de %m"}, {"H 'h''' m", "%-H h' %-M"}, {"d%", "%-d%%"},
  };
  for (const auto& [picture, pattern] : cases) EXPECT_EQ(PatternFromPicture(picture), pattern) << picture;
}

TEST(LocaleFacts, LoadingTheCLocale) {
  SV_SKIP_ON_WINDOWS("the C library's locale is not where Windows keeps the user's locale");
  const TimeStyle saved = UserTimeStyle();
  const TFormatSettings savedSettings = UserFormatSettings();
  std::setlocale(LC_ALL, "C");
  LoadLocaleFacts();
  const TimeStyle s = UserTimeStyle();
  ExpectStyle(s, true, true, false);
  EXPECT_EQ(s.am, "AM");
  EXPECT_EQ(s.decimalSeparator, '.');
  EXPECT_EQ(UserFormatSettings().longTimeFormat, "%H:%M:%S");
  SetUserTimeStyle(saved);
  SetUserFormatSettings(savedSettings);
}

}  // namespace
}  // namespace sv
