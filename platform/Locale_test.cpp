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
