#include "base/DateTime.h"

#include <cmath>

#include "base/Exception.h"
#include "base/Text.h"

namespace sv {
namespace {

constexpr std::int64_t kMsecPerDay = 86400000;

// Days from 0001-01-01 to 1899-12-30.
constexpr std::int64_t kDelta = 693593;

std::int64_t DaysBefore(int year) {
  std::int64_t y = year - 1;
  return y * 365 + y / 4 - y / 100 + y / 400;
}

// Values beyond these lie outside the years 1 to 9999 (with a day's margin for the time).
constexpr double kFirstValue = -693594.0;
constexpr double kLastValue = 2958467.0;

// Whole days and milliseconds of the day; false for a value outside the calendar (or not
// a number), which decodes to zero parts. A negative value counts its days backwards
// while its fraction is still a time of day forwards (-1.25 is 1899-12-29 06:00), so a
// time that rounds up to midnight always carries into the next day.
bool Split(TDateTime value, std::int64_t& days, std::int64_t& msec) {
  if (!(value > kFirstValue && value < kLastValue)) return false;
  double whole = std::trunc(value);
  days = static_cast<std::int64_t>(whole);
  msec = std::llround(std::fabs(value - whole) * kMsecPerDay);
  if (msec >= kMsecPerDay) {
    msec -= kMsecPerDay;
    days += 1;
  }
  return true;
}

std::string Pad(int v, int width) {
  std::string s = std::to_string(v);
  while (static_cast<int>(s.size()) < width) s.insert(s.begin(), '0');
  return s;
}

}  // namespace

bool IsLeapYear(int year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

int DaysInMonth(int year, int month) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

bool TryEncodeDate(int year, int month, int day, TDateTime& date) {
  if (year < 1 || year > 9999 || month < 1 || month > 12) return false;
  if (day < 1 || day > DaysInMonth(year, month)) return false;
  std::int64_t n = DaysBefore(year);
  for (int m = 1; m < month; ++m) n += DaysInMonth(year, m);
  n += day - 1;
  date = static_cast<double>(n - kDelta);
  return true;
}

bool TryEncodeTime(int hour, int minute, int second, int msec, TDateTime& time) {
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 ||
      msec < 0 || msec > 999)
    return false;
  time = (((hour * 60.0 + minute) * 60.0 + second) * 1000.0 + msec) / kMsecPerDay;
  return true;
}

TDateTime EncodeDate(int year, int month, int day) {
  TDateTime d = 0;
  if (!TryEncodeDate(year, month, day, d)) throw EConvertError("Invalid argument to date encode");
  return d;
}

TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second) {
  TDateTime t = 0;
  if (!TryEncodeTime(hour, minute, second, 0, t)) throw EConvertError("Invalid argument to time encode");
  // Before 1899-12-30 the days count backwards but the time of day forwards (see Split).
  const TDateTime date = EncodeDate(year, month, day);
  return date < 0 ? date - t : date + t;
}

DateParts DecodeDate(TDateTime value) {
  std::int64_t days = 0, msec = 0;
  DateParts p;
  if (!Split(value, days, msec)) return p;
  std::int64_t n = days + kDelta;  // days since 0001-01-01
  if (n < 0 || n >= DaysBefore(10000)) return p;  // outside years 1 to 9999
  int year = static_cast<int>(n / 366) + 1;
  while (DaysBefore(year + 1) <= n) ++year;
  n -= DaysBefore(year);
  int month = 1;
  while (n >= DaysInMonth(year, month)) n -= DaysInMonth(year, month++);
  p.year = year;
  p.month = month;
  p.day = static_cast<int>(n) + 1;
  return p;
}

TimeParts DecodeTime(TDateTime value) {
  std::int64_t days = 0, msec = 0;
  TimeParts t;
  if (!Split(value, days, msec)) return t;
  t.hour = static_cast<int>(msec / 3600000);
  t.minute = static_cast<int>(msec / 60000 % 60);
  t.second = static_cast<int>(msec / 1000 % 60);
  t.msec = static_cast<int>(msec % 1000);
  return t;
}

std::string FormatPattern(std::string_view pattern, TDateTime value, const TFormatSettings& fs) {
  const DateParts d = DecodeDate(value);
  const TimeParts t = DecodeTime(value);
  const int hour12 = t.hour % 12 == 0 ? 12 : t.hour % 12;
  std::string out;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] != '%' || i + 1 == pattern.size()) {
      out += pattern[i];
      continue;
    }
    char c = pattern[++i];
    // glibc's flags "-" (no padding) and "0"; "E" and "O" select alternative forms we ignore.
    bool noPad = false;
    while ((c == '-' || c == '0' || c == 'E' || c == 'O') && i + 1 < pattern.size()) {
      noPad = noPad || c == '-';
      c = pattern[++i];
    }
    auto num = [&](int v, int width) { out += noPad ? std::to_string(v) : Pad(v, width); };
    switch (c) {
      case 'd': num(d.day, 2); break;
      case 'e':  // day padded with a blank
        if (!noPad && d.day < 10) out += ' ';
        out += std::to_string(d.day);
        break;
      case 'm': num(d.month, 2); break;
      case 'y': num(d.year % 100, 2); break;
      case 'Y': out += std::to_string(d.year); break;
      case 'H': num(t.hour, 2); break;
      case 'k': out += std::to_string(t.hour); break;
      case 'I': num(hour12, 2); break;
      case 'l': out += std::to_string(hour12); break;
      case 'M': num(t.minute, 2); break;
      case 'S': num(t.second, 2); break;
      case 'p': out += t.hour < 12 ? fs.timeAMString : fs.timePMString; break;
      case 'P': out += LowerCase(t.hour < 12 ? fs.timeAMString : fs.timePMString); break;
      case 'T': out += FormatPattern("%H:%M:%S", value, fs); break;
      case 'R': out += FormatPattern("%H:%M", value, fs); break;
      case 'r': out += FormatPattern("%I:%M:%S %p", value, fs); break;
      case 'D': out += FormatPattern("%m/%d/%y", value, fs); break;
      case 'F': out += FormatPattern("%Y-%m-%d", value, fs); break;
      case '%': out += '%'; break;
      default: out += '%'; out += c; break;
    }
  }
  return out;
}

std::string DateTimeToStr(TDateTime value, const TFormatSettings& fs) {
  std::string text = FormatPattern(fs.shortDateFormat, value, fs);
  const TimeParts t = DecodeTime(value);
  if (t.hour != 0 || t.minute != 0 || t.second != 0) text += ' ' + FormatPattern(fs.longTimeFormat, value, fs);
  return text;
}

}  // namespace sv
