#pragma once
// Text helpers shared by every layer. Text is std::string holding Windows-1250 bytes.
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

namespace sv {

// Removes leading and trailing bytes 0x00-0x20.
std::string Trim(std::string_view text);
std::string TrimLeft(std::string_view text);
std::string TrimRight(std::string_view text);

// Windows-1250 case folding: the one table behind every case-insensitive comparison.
unsigned char LowerCase(unsigned char c);
unsigned char UpperCase(unsigned char c);
std::string LowerCase(std::string_view text);
// Whole-text equality without regard to case (national letters fold too).
bool SameText(std::string_view a, std::string_view b);
// The system's equality without regard to case in the user's locale, where it has one
// (Windows: CompareString). Once set, SameText asks it about texts with letters beyond
// ASCII; ASCII and everything else use the table. Set at start-up, before any thread.
using TextEquality = bool (*)(std::string_view a, std::string_view b);
void SetLocaleTextEquality(TextEquality equal);
// Position of the first occurrence of needle in haystack from `from` on, without regard
// to case (by the table); npos when none.
std::size_t FindText(std::string_view haystack, std::string_view needle, std::size_t from = 0);

// Character classes of Windows-1250, for the regular-expression character tables.
bool IsLetter(unsigned char c);
bool IsDigit(unsigned char c);
bool IsSpace(unsigned char c);

// Conversion between Windows-1250 and UTF-8. Utf8ToCp1250 puts '?' in place of every
// character that Windows-1250 lacks (and of malformed UTF-8) and returns false then.
std::string Cp1250ToUtf8(std::string_view cp1250);
bool Utf8ToCp1250(std::string_view utf8, std::string& out);
// The Windows-1250 form of a literal written in UTF-8 in our sources.
std::string Cp(std::string_view utf8);

// Format with %s and %d, each taking the next argument's text form in order; %% is a
// percent sign. Filled in one pass: text arriving in an argument is never read as a
// directive. Missing arguments leave the directive as it stands.
std::string FormatArgs(std::string_view format, const std::string* args, std::size_t count);

inline std::string ToText(const std::string& s) { return s; }
inline std::string ToText(std::string_view s) { return std::string(s); }
inline std::string ToText(const char* s) { return s; }
template <typename T, typename = std::enable_if_t<std::is_integral_v<T>>>
std::string ToText(T v) { return std::to_string(v); }

template <typename... Args>
std::string Format(std::string_view format, const Args&... args) {
  const std::string texts[] = {ToText(args)..., std::string()};
  return FormatArgs(format, texts, sizeof...(Args));
}

}  // namespace sv
