#pragma once
// The user's locale facts for date-time texts, read from LC_TIME (on Windows from
// GetLocaleInfo). Tests set them explicitly so that nothing depends on the machine's
// locale. Safe from any thread.
#include <string>

#include "base/DateTime.h"

namespace sv {

// How a listing timestamp writes the time of day.
struct TimeStyle {
  bool leadingZero = false;      // hours with two digits
  bool twentyFourHour = false;   // 0-23; otherwise 12-hour with a designator
  bool designatorFirst = false;  // designator before the hour (with a blank after it)
  std::string am = "am";
  std::string pm = "pm";
  char decimalSeparator = '.';   // before milliseconds when a timestamp is read
};

// Reads the facts from the process locale (call setlocale(LC_TIME, "") first; the decimal
// separator comes from LC_NUMERIC). Texts are converted from the locale's character set to
// Windows-1250. A fact that cannot be read keeps its default: no leading zero, 12-hour,
// designator after, am/pm. On Windows it also makes CompareString in the user's locale
// the equality of names (see SetLocaleTextEquality in base/Text.h).
void LoadLocaleFacts();

// Derives a date or time pattern (strftime form, see TFormatSettings) from a Windows
// picture ("d.M.yyyy", "h:mm:ss tt"). Names of days and months, which the patterns lack,
// become numbers or go.
std::string PatternFromPicture(const std::string& picture);

// The short date and long time of the default date-time text, and the designators.
TFormatSettings UserFormatSettings();
void SetUserFormatSettings(const TFormatSettings& settings);

TimeStyle UserTimeStyle();
void SetUserTimeStyle(const TimeStyle& style);

// The locale's designators as a listing timestamp may write them: kept when both
// converted to Windows-1250 exactly and read differently; otherwise "AM" and "PM", since
// designators that both became "?" (Greek, Arabic) would list 01:05 and 13:05 alike and
// every synchronisation would fetch the file again. Designators that are both empty
// (24-hour locales) are kept.
void KeepDesignatorsApart(std::string& am, bool amExact, std::string& pm, bool pmExact);

// Derives the time style from a strftime time pattern and the two designators.
TimeStyle TimeStyleFromPattern(const std::string& timePattern, const std::string& am,
                               const std::string& pm);

// The default date-time text of a value with the user's facts.
std::string DateTimeToText(TDateTime value);

}  // namespace sv
