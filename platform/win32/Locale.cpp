// The user's locale facts from GetLocaleInfo, and CompareString for names.
#include "platform/Locale.h"

#include "base/Text.h"
#include "platform/win32/WinText.h"

namespace sv {
namespace {

// One fact of the user's locale in Windows-1250; empty when it cannot be read. `exact`
// tells whether every character converted.
std::string Info(LCTYPE type, bool* exact = nullptr) {
  wchar_t buffer[128];
  const int n = ::GetLocaleInfoW(LOCALE_USER_DEFAULT, type, buffer, 128);
  std::string text;
  const bool converted = n <= 1 || win::Narrow(std::wstring_view(buffer, static_cast<std::size_t>(n - 1)), text);
  if (exact) *exact = converted;
  return text;
}

// CompareString in the user's locale, on the texts as Windows-1250 means them.
bool LocaleEqual(std::string_view a, std::string_view b) {
  const std::wstring wa = win::Wide(a), wb = win::Wide(b);
  return ::CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, wa.data(), static_cast<int>(wa.size()), wb.data(),
                          static_cast<int>(wb.size())) == CSTR_EQUAL;
}

}  // namespace

void LoadLocaleFacts() {
  SetLocaleTextEquality(LocaleEqual);
  TFormatSettings fs;
  const std::string date = PatternFromPicture(Info(LOCALE_SSHORTDATE));
  const std::string time = PatternFromPicture(Info(LOCALE_STIMEFORMAT));
  if (!date.empty()) fs.shortDateFormat = date;
  if (!time.empty()) fs.longTimeFormat = time;
  TimeStyle style;
  bool amExact = true, pmExact = true;
  std::string am = Info(LOCALE_S1159, &amExact), pm = Info(LOCALE_S2359, &pmExact);
  KeepDesignatorsApart(am, amExact, pm, pmExact);
  if (!am.empty()) fs.timeAMString = style.am = am;
  if (!pm.empty()) fs.timePMString = style.pm = pm;
  style.leadingZero = Info(LOCALE_ITLZERO) == "1";
  style.twentyFourHour = Info(LOCALE_ITIME) == "1";
  style.designatorFirst = !style.twentyFourHour && Info(LOCALE_ITIMEMARKPOSN) == "1";
  const std::string decimal = Info(LOCALE_SDECIMAL);
  if (decimal.size() == 1) style.decimalSeparator = decimal[0];
  SetUserFormatSettings(fs);
  SetUserTimeStyle(style);
}

}  // namespace sv
