#pragma once
// TDateTime: days since 1899-12-30 with the time of day as the fraction, local time.
// 0 means "never" for the controller's last-attempt and last-success times.
#include <cstdint>
#include <string>
#include <string_view>

namespace sv {

using TDateTime = double;

struct DateParts {
  int year = 0, month = 0, day = 0;
};
struct TimeParts {
  int hour = 0, minute = 0, second = 0, msec = 0;
};

bool IsLeapYear(int year);
int DaysInMonth(int year, int month);
// False when the date does not exist in the calendar (years 1 to 9999).
bool TryEncodeDate(int year, int month, int day, TDateTime& date);
// False unless hour < 24, minute < 60, second < 60 and msec < 1000.
bool TryEncodeTime(int hour, int minute, int second, int msec, TDateTime& time);
// Both raise EConvertError for values that TryEncode* refuses.
TDateTime EncodeDate(int year, int month, int day);
TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second);

// The parts of a value, its time rounded to the millisecond.
DateParts DecodeDate(TDateTime value);
TimeParts DecodeTime(TDateTime value);

// The locale facts that the program's date-time texts use. Date and time patterns are
// in strftime form (%d %e %m %y %Y %H %k %I %l %M %S %p %T %R %D %F %%), as the POSIX
// locale gives them; the program never calls strftime itself.
struct TFormatSettings {
  std::string shortDateFormat = "%m/%d/%y";
  std::string longTimeFormat = "%H:%M:%S";
  std::string timeAMString = "AM";
  std::string timePMString = "PM";
};

// Fills a strftime-style pattern with the value's parts.
std::string FormatPattern(std::string_view pattern, TDateTime value, const TFormatSettings& fs);

// The default date-time text: the short date and, unless hours, minutes and seconds are
// all zero, a blank and the long time.
std::string DateTimeToStr(TDateTime value, const TFormatSettings& fs);

}  // namespace sv
