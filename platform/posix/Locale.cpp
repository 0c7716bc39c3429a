#include "platform/Locale.h"

#include <langinfo.h>

#include <mutex>

namespace sv {
namespace {

std::mutex gMutex;
TFormatSettings gSettings;
TimeStyle gStyle;

std::string LangInfo(nl_item item) {
  const char* v = nl_langinfo(item);
  return v ? v : "";
}

}  // namespace

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
  if (hour == std::string::npos) return TimeStyle{};  // unreadable: the defaults
  style.designatorFirst = !style.twentyFourHour && designator != std::string::npos && designator < hour;
  return style;
}

void LoadLocaleFacts() {
  TFormatSettings fs;
  std::string date = LangInfo(D_FMT), time = LangInfo(T_FMT);
  if (!date.empty()) fs.shortDateFormat = date;
  if (!time.empty()) fs.longTimeFormat = time;
  std::string am = LangInfo(AM_STR), pm = LangInfo(PM_STR);
  if (!am.empty()) fs.timeAMString = am;
  if (!pm.empty()) fs.timePMString = pm;
  TimeStyle style = TimeStyleFromPattern(time, am, pm);
  std::scoped_lock lock(gMutex);
  gSettings = fs;
  gStyle = style;
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
