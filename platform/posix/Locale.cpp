#include "platform/Locale.h"

#include <iconv.h>
#include <langinfo.h>

#include <mutex>

#include "base/Text.h"

namespace sv {
namespace {

std::mutex gMutex;
TFormatSettings gSettings;
TimeStyle gStyle;

// A locale text in Windows-1250. UTF-8 goes through our own table; another character set
// through iconv; when that cannot convert, the bytes stay as they are.
std::string LangInfo(nl_item item) {
  const char* v = nl_langinfo(item);
  std::string text = v ? v : "";
  const std::string codeset = nl_langinfo(CODESET);
  std::string out;
  if (codeset == "UTF-8") {
    Utf8ToCp1250(text, out);
    return out;
  }
  iconv_t cd = iconv_open("CP1250", codeset.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) return text;
  out.assign(text.size() * 4 + 4, '\0');
  char* in = text.data();
  char* to = out.data();
  std::size_t inLeft = text.size(), outLeft = out.size();
  const bool ok = iconv(cd, &in, &inLeft, &to, &outLeft) != static_cast<std::size_t>(-1);
  iconv_close(cd);
  if (!ok) return text;
  out.resize(out.size() - outLeft);
  return out;
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
  if (hour == std::string::npos) {  // no hour in the pattern: the defaults, designators kept
    TimeStyle defaults;
    defaults.am = style.am;
    defaults.pm = style.pm;
    return defaults;
  }
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
  const std::string radix = LangInfo(RADIXCHAR);
  if (radix.size() == 1) style.decimalSeparator = radix[0];
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
