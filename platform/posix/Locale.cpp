#include "platform/Locale.h"

#include <iconv.h>
#include <langinfo.h>

#include <utility>

#include "base/Text.h"

namespace sv {
namespace {

// A locale text in Windows-1250. UTF-8 goes through our own table; another character set
// through iconv; when that cannot convert, the bytes stay as they are. True when every
// character converted.
bool LangInfo(nl_item item, std::string& out) {
  const char* v = nl_langinfo(item);
  std::string text = v ? v : "";
  const std::string codeset = nl_langinfo(CODESET);
  if (codeset == "UTF-8") return Utf8ToCp1250(text, out);
  out = text;
  iconv_t cd = iconv_open("CP1250", codeset.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  std::string converted(text.size() * 4 + 4, '\0');
  char* in = text.data();
  char* to = converted.data();
  std::size_t inLeft = text.size(), outLeft = converted.size();
  const bool ok = iconv(cd, &in, &inLeft, &to, &outLeft) != static_cast<std::size_t>(-1);
  iconv_close(cd);
  if (!ok) return false;
  converted.resize(converted.size() - outLeft);
  out = std::move(converted);
  return true;
}

std::string LangInfo(nl_item item) {
  std::string text;
  LangInfo(item, text);
  return text;
}

}  // namespace

void LoadLocaleFacts() {
  TFormatSettings fs;
  std::string date = LangInfo(D_FMT), time = LangInfo(T_FMT);
  if (!date.empty()) fs.shortDateFormat = date;
  if (!time.empty()) fs.longTimeFormat = time;
  std::string am, pm;
  const bool amExact = LangInfo(AM_STR, am), pmExact = LangInfo(PM_STR, pm);
  KeepDesignatorsApart(am, amExact, pm, pmExact);
  if (!am.empty()) fs.timeAMString = am;
  if (!pm.empty()) fs.timePMString = pm;
  TimeStyle style = TimeStyleFromPattern(time, am, pm);
  const std::string radix = LangInfo(RADIXCHAR);
  if (radix.size() == 1) style.decimalSeparator = radix[0];
  SetUserFormatSettings(fs);
  SetUserTimeStyle(style);
}

}  // namespace sv
