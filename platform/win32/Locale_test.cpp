#include "platform/Locale.h"

#include <gtest/gtest.h>

#include "base/Text.h"

namespace sv {
namespace {

// The Windows tests run with LC_ALL=C.UTF-8, which Wine takes for the locale en-US.
TEST(WindowsLocale, TheUserLocaleGivesTheFactsOfTheTimestamps) {
  const TimeStyle savedStyle = UserTimeStyle();
  const TFormatSettings savedSettings = UserFormatSettings();
  LoadLocaleFacts();
  const TimeStyle s = UserTimeStyle();
  EXPECT_FALSE(s.leadingZero);
  EXPECT_FALSE(s.twentyFourHour);
  EXPECT_FALSE(s.designatorFirst);
  EXPECT_EQ(s.am, "AM");
  EXPECT_EQ(s.pm, "PM");
  EXPECT_EQ(s.decimalSeparator, '.');
  EXPECT_EQ(UserFormatSettings().shortDateFormat, "%-m/%-d/%Y");
  EXPECT_EQ(DateTimeToText(EncodeDateTime(2008, 11, 14, 13, 5, 8)), "11/14/2008 1:05:08 PM");
  // Names compare through CompareString from now on: national letters fold, marks stay.
  EXPECT_TRUE(SameText(Cp("Čvor-Šuma.TXT"), Cp("čvor-šuma.txt")));
  EXPECT_FALSE(SameText(Cp("čvor"), "cvor"));
  EXPECT_FALSE(SameText(Cp("ča"), Cp("čb")));
  SetUserTimeStyle(savedStyle);
  SetUserFormatSettings(savedSettings);
}

}  // namespace
}  // namespace sv
