// The user's locale facts as the program keeps them; reading them from the system is
// the platform's LoadLocaleFacts.
#include "platform/Locale.h"

#include <mutex>

namespace sv {
namespace {

std::mutex gMutex;
TFormatSettings gSettings;
TimeStyle gStyle;

}  // namespace

void KeepDesignatorsApart(std::string& am, bool amExact, std::string& pm, bool pmExact) {
  if (amExact && pmExact && (am != pm || am.empty())) return;
  am = "AM";
  pm = "PM";
}

TimeStyle TimeStyleFromPattern(const std::string& pattern, const std::string& am,
                               const std::string& pm) {
  TimeStyle style;
  if (!am.empty()) style.am = am;
  if (!pm.empty()) style.pm = pm;
  std::size_t hour = std::string::npos, designator = std::string::npos;
  for (std::size_t i = 0; i + 1 < pattern.size(); ++i) {
    if (pattern[i] != '%') continue;
    std::size_t j = i + 1;
    while (j < pattern.size() && (pattern[j] == '-' || pattern[j] == '0' || pattern[j] == 'O' || pattern[j] == 'E')) ++j;
    if (j >= pattern.size()) break;
    const char c = pattern[j];
    const bool noPad = pattern.compare(i + 1, 1, "-") == 0;
    if (hour == std::string::npos && (c == 'H' || c == 'k' || c == 'I' || c == 'l' || c == 'T' || c == 'R' || c == 'r')) {
      hour = i;
      style.twentyFourHour = c == 'H' || c == 'k' || c == 'T' || c == 'R';
      style.leadingZero = !noPad && (c == 'H' || c == 'I' || c == 'T' || c == 'R' || c == 'r');
      if (c == 'r') designator = pattern.size();
    }
    if (designator == std::string::npos && (c == 'p' || c == 'P')) designator = i;
    i = j;
  }
  if (hour == std::string::npos) {  // no hour in the pattern: the defaults, designators kept
    TimeStyle defaults;
    defaults.am = style.am;
    defaults.pm = style.pm;
    return defaults;
  }
  style.designatorFirst = !style.twentyFourHour && designator != std::string::npos && designator < hour;
  return style;
}

std::string PatternFromPicture(const std::string& picture) {
  std::string pattern;
  for (std::size_t i = 0; i < picture.size();) {
    const char c = picture[i];
    if (c == '\'') {  // quoted text, '' standing for one quote
      for (++i; i < picture.size(); ++i) {
        if (picture[i] == '\'' && (i + 1 >= picture.size() || picture[i + 1] != '\'')) break;
        if (picture[i] == '\'') ++i;
        pattern += picture[i] == '%' ? "%%" : std::string(1, picture[i]);
      }
      ++i;
      continue;
    }
    std::size_t run = 1;
    while (i + run < picture.size() && picture[i + run] == c) ++run;
    i += run;
    switch (c) {
      case 'd': pattern += run == 1 ? "%-d" : run == 2 ? "%d" : ""; break;  // no day names
      case 'M': pattern += run == 1 ? "%-m" : "%m"; break;                   // no month names
      case 'y': pattern += run == 1 ? "%-y" : run == 2 ? "%y" : "%Y"; break;
      case 'h': pattern += run == 1 ? "%-I" : "%I"; break;
      case 'H': pattern += run == 1 ? "%-H" : "%H"; break;
      case 'm': pattern += run == 1 ? "%-M" : "%M"; break;
      case 's': pattern += run == 1 ? "%-S" : "%S"; break;
      case 't': pattern += "%p"; break;
      case 'g': break;  // era
      case '%': pattern.append(run * 2, '%'); break;
      default: pattern.append(run, c); break;
    }
  }
  return pattern;
}

TFormatSettings UserFormatSettings() {
  std::scoped_lock lock(gMutex);
  return gSettings;
}

void SetUserFormatSettings(const TFormatSettings& settings) {
  std::scoped_lock lock(gMutex);
  gSettings = settings;
}

TimeStyle UserTimeStyle() {
  std::scoped_lock lock(gMutex);
  return gStyle;
}

void SetUserTimeStyle(const TimeStyle& style) {
  std::scoped_lock lock(gMutex);
  gStyle = style;
}

std::string DateTimeToText(TDateTime value) { return DateTimeToStr(value, UserFormatSettings()); }

}  // namespace sv
