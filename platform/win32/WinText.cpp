#include "platform/win32/WinText.h"

#include "platform/ProgramPaths.h"

namespace sv::win {
namespace {

constexpr UINT kProgramCodePage = 1250;

std::wstring ToWide(UINT codePage, std::string_view text) {
  if (text.empty()) return {};
  const int n = ::MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  ::MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
  return wide;
}

}  // namespace

std::wstring Wide(std::string_view cp1250) { return ToWide(kProgramCodePage, cp1250); }

std::wstring WideFromUtf8(std::string_view utf8) { return ToWide(CP_UTF8, utf8); }

bool Narrow(std::wstring_view wide, std::string& cp1250) {
  cp1250.clear();
  if (wide.empty()) return true;
  BOOL lossy = FALSE;
  // No "best fit": a character that Windows-1250 lacks must not pass for another one.
  const DWORD flags = WC_NO_BEST_FIT_CHARS;
  const int size = static_cast<int>(wide.size());
  const int n = ::WideCharToMultiByte(kProgramCodePage, flags, wide.data(), size, nullptr, 0, "?", &lossy);
  cp1250.assign(static_cast<std::size_t>(n), '\0');
  ::WideCharToMultiByte(kProgramCodePage, flags, wide.data(), size, cp1250.data(), n, "?", &lossy);
  return !lossy;
}

std::string Narrow(std::wstring_view wide) {
  std::string text;
  Narrow(wide, text);
  return text;
}

std::string Utf8(std::wstring_view wide) {
  if (wide.empty()) return {};
  const int size = static_cast<int>(wide.size());
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<std::size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, text.data(), n, nullptr, nullptr);
  return text;
}

std::wstring WidePath(std::string_view path) {
  std::wstring wide = Wide(path);
  for (wchar_t& c : wide)
    if (c == L'/') c = L'\\';
  // A leading "~" component is the home folder (see FileSystem.h).
  if (wide.empty() || wide[0] != L'~' || (wide.size() > 1 && wide[1] != L'\\')) return wide;
  const std::wstring home = WideFromUtf8(HomeFolder().Native());
  return home.empty() ? wide : home + wide.substr(1);
}

// 11644473600 seconds lie between 1601-01-01 and 1970-01-01.
constexpr std::int64_t kEpochGap = 11644473600LL;
constexpr std::int64_t kTicksPerSecond = 10000000LL;

std::int64_t FileTimeToUnix(const FILETIME& time) {
  const std::int64_t ticks =
      static_cast<std::int64_t>((static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime);
  return ticks / kTicksPerSecond - kEpochGap;
}

FILETIME UnixToFileTime(std::int64_t seconds) {
  const auto ticks = static_cast<std::uint64_t>((seconds + kEpochGap) * kTicksPerSecond);
  FILETIME time;
  time.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFFu);
  time.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  return time;
}

}  // namespace sv::win
