#include "base/DateTime.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "base/Exception.h"

namespace sv {
namespace {

void ExpectDate(TDateTime value, int year, int month, int day) {
  const DateParts d = DecodeDate(value);
  EXPECT_EQ(d.year, year) << value;
  EXPECT_EQ(d.month, month) << value;
  EXPECT_EQ(d.day, day) << value;
}

void ExpectTime(TDateTime value, int hour, int minute, int second, int msec = 0) {
  const TimeParts t = DecodeTime(value);
  EXPECT_EQ(t.hour, hour) << value;
  EXPECT_EQ(t.minute, minute) << value;
  EXPECT_EQ(t.second, second) << value;
  EXPECT_EQ(t.msec, msec) << value;
}

TEST(DateTime, KnownDays) {
  EXPECT_EQ(EncodeDate(1899, 12, 30), 0.0);
  EXPECT_EQ(EncodeDate(1900, 1, 1), 2.0);
  EXPECT_EQ(EncodeDate(1970, 1, 1), 25569.0);
  EXPECT_EQ(EncodeDate(2008, 11, 14), 39766.0);
  EXPECT_EQ(EncodeDate(1, 1, 1), -693593.0);
  EXPECT_EQ(EncodeDate(9999, 12, 31), 2958465.0);
  const TDateTime t = EncodeDateTime(2008, 11, 14, 13, 5, 8);
  EXPECT_DOUBLE_EQ(t, 39766.0 + (13 * 3600 + 5 * 60 + 8) / 86400.0);
  ExpectDate(t, 2008, 11, 14);
  ExpectTime(t, 13, 5, 8);
}

// Every day of the calendar decodes to the date that a plain day-by-day count gives.
TEST(DateTime, EveryDayRoundTrips) {
  int year = 1, month = 1, day = 1;
  for (TDateTime v = EncodeDate(1, 1, 1); v <= EncodeDate(9999, 12, 31); v += 1) {
    const DateParts d = DecodeDate(v < 0 ? v - 0.75 : v + 0.75);  // 18:00 that day
    ASSERT_TRUE(d.year == year && d.month == month && d.day == day)
        << v << " gave " << d.year << '-' << d.month << '-' << d.day;
    if (++day > DaysInMonth(year, month)) {
      day = 1;
      if (++month > 12) month = 1, ++year;
    }
  }
  EXPECT_EQ(year, 10000);
}

TEST(DateTime, LeapYears) {
  EXPECT_TRUE(IsLeapYear(2000));
  EXPECT_TRUE(IsLeapYear(2024));
  EXPECT_FALSE(IsLeapYear(1900));
  EXPECT_FALSE(IsLeapYear(2100));
  EXPECT_EQ(EncodeDate(2000, 3, 1) - EncodeDate(2000, 2, 28), 2.0);
  EXPECT_EQ(EncodeDate(1900, 3, 1) - EncodeDate(1900, 2, 28), 1.0);
  ExpectDate(EncodeDate(2024, 2, 29), 2024, 2, 29);
}

TEST(DateTime, InvalidDatesAndTimesAreRefused) {
  TDateTime v = 0;
  EXPECT_FALSE(TryEncodeDate(2023, 2, 29, v));
  EXPECT_FALSE(TryEncodeDate(1900, 2, 29, v));
  EXPECT_FALSE(TryEncodeDate(2008, 4, 31, v));
  EXPECT_FALSE(TryEncodeDate(2008, 0, 1, v));
  EXPECT_FALSE(TryEncodeDate(2008, 13, 1, v));
  EXPECT_FALSE(TryEncodeDate(2008, 1, 0, v));
  EXPECT_FALSE(TryEncodeDate(0, 1, 1, v));
  EXPECT_FALSE(TryEncodeDate(10000, 1, 1, v));
  EXPECT_FALSE(TryEncodeTime(24, 0, 0, 0, v));
  EXPECT_FALSE(TryEncodeTime(0, 60, 0, 0, v));
  EXPECT_FALSE(TryEncodeTime(0, 0, 60, 0, v));
  EXPECT_FALSE(TryEncodeTime(0, 0, 0, 1000, v));
  EXPECT_FALSE(TryEncodeTime(-1, 0, 0, 0, v));
  EXPECT_TRUE(TryEncodeTime(23, 59, 59, 999, v));
  ExpectTime(v, 23, 59, 59, 999);
  EXPECT_EQ(DaysInMonth(2024, 13), 0);
  EXPECT_EQ(DaysInMonth(2024, 0), 0);
  try {
    EncodeDate(2023, 2, 29);
    FAIL() << "no exception";
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "Invalid argument to date encode");
  }
  EXPECT_THROW(EncodeDateTime(2023, 2, 28, 24, 0, 0), EConvertError);
}

// Before 1899-12-30 the days count backwards while the time of day runs forwards.
TEST(DateTime, ValuesBefore1899) {
  ExpectDate(-1.25, 1899, 12, 29);
  ExpectTime(-1.25, 6, 0, 0);
  EXPECT_EQ(EncodeDateTime(1899, 12, 29, 6, 0, 0), -1.25);
  const TDateTime old = EncodeDateTime(1601, 7, 4, 18, 30, 15);
  ExpectDate(old, 1601, 7, 4);
  ExpectTime(old, 18, 30, 15);
  // A time that rounds up to midnight carries into the following day, in both directions.
  ExpectDate(-1.9999999999, 1899, 12, 30);
  ExpectTime(-1.9999999999, 0, 0, 0);
  ExpectDate(1.9999999999, 1900, 1, 1);
  ExpectDate(2.9999999999, 1900, 1, 2);
}

TEST(DateTime, ValuesOutsideTheCalendarDecodeToZeroParts) {
  for (TDateTime v : {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
                      -1e300, 1e300, 2958466.0, -693595.5}) {
    ExpectDate(v, 0, 0, 0);
    ExpectTime(v, 0, 0, 0);
  }
}

TEST(DateTime, FormatPatternFillsStrftimeDirectives) {
  TFormatSettings fs;
  fs.timeAMString = "prije";
  fs.timePMString = "poslije";
  const TDateTime v = EncodeDateTime(2026, 12, 6, 12, 31, 57);
  EXPECT_EQ(FormatPattern("%-d.%-m.%Y", v, fs), "6.12.2026");
  EXPECT_EQ(FormatPattern("%d.%m.%y|%e|%-e|%F|%D", v, fs), "06.12.26| 6|6|2026-12-06|12/06/26");
  EXPECT_EQ(FormatPattern("%H:%M:%S|%T|%R|%k|%I|%l %p|%r", v, fs),
            "12:31:57|12:31:57|12:31|12|12|12 poslije|12:31:57 poslije");
  const TDateTime early = EncodeDateTime(2026, 1, 2, 0, 5, 9);
  EXPECT_EQ(FormatPattern("%I:%M:%S %p|%-H|%k|%Ey|%OH", early, fs), "12:05:09 prije|0|0|26|00");
  EXPECT_EQ(FormatPattern("100%% %q %", early, fs), "100% %q %");
}

TEST(DateTime, DefaultTextShowsTheTimeUnlessMidnight) {
  TFormatSettings fs;
  fs.shortDateFormat = "%-d.%-m.%Y";
  fs.longTimeFormat = "%H:%M:%S";
  EXPECT_EQ(DateTimeToStr(EncodeDateTime(2026, 12, 6, 12, 31, 57), fs), "6.12.2026 12:31:57");
  EXPECT_EQ(DateTimeToStr(EncodeDate(2026, 12, 6), fs), "6.12.2026");
  EXPECT_EQ(DateTimeToStr(EncodeDateTime(2026, 12, 6, 0, 0, 1), fs), "6.12.2026 00:00:01");
  EXPECT_EQ(DateTimeToStr(EncodeDate(2008, 11, 14), TFormatSettings{}), "11/14/08");
}

}  // namespace
}  // namespace sv
