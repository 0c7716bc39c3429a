#pragma once
// The Windows layer's boundary: program text is Windows-1250 whatever the machine's ANSI
// code page is, so every call goes through the wide API with an explicit conversion.
// Internal to platform/win32.
#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace sv::win {

// Windows-1250 to UTF-16.
std::wstring Wide(std::string_view cp1250);
// UTF-16 to Windows-1250; false when a character has no Windows-1250 form (it becomes '?').
bool Narrow(std::wstring_view wide, std::string& cp1250);
std::string Narrow(std::wstring_view wide);
// UTF-16 to UTF-8 and back (a SystemPath holds the UTF-8 form).
std::string Utf8(std::wstring_view wide);
std::wstring WideFromUtf8(std::string_view utf8);

// A program path ('\' or '/' between components, Windows-1250) in the system's form; a
// leading "~" component is the home folder.
std::wstring WidePath(std::string_view path);

// A file time (100 ns steps since 1601, UTC) as POSIX seconds, rounded down, and back.
std::int64_t FileTimeToUnix(const FILETIME& time);
FILETIME UnixToFileTime(std::int64_t seconds);

// Closes a handle when the scope ends.
class Handle {
 public:
  explicit Handle(HANDLE h = INVALID_HANDLE_VALUE) : h_(h) {}
  ~Handle() {
    if (valid()) ::CloseHandle(h_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE get() const { return h_; }
  bool valid() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }

 private:
  HANDLE h_;
};

}  // namespace sv::win
