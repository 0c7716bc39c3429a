#pragma once
// The operating-system errors that tests expect, with their numbers on both systems. On
// Linux a test expects the exact text; on Windows the text of the system's message table
// for the number (Windows and Wine word it differently). Header only: for the tests of
// modules that link the platform layer.
#include <string>
#include <string_view>

#include "platform/FileSystem.h"
#include "tests/support/TestPlatform.h"

namespace sv::test {

struct OsError {
  int posix;
  int windows;
  std::string_view posixText;

  int Code() const { return OnWindows() ? windows : posix; }
  std::string Text() const { return OnWindows() ? fs::ErrorText(windows) : std::string(posixText); }
};

inline constexpr OsError kFileNotFound{2, 2, "No such file or directory"};         // ERROR_FILE_NOT_FOUND
inline constexpr OsError kPathNotFound{2, 3, "No such file or directory"};         // ERROR_PATH_NOT_FOUND
inline constexpr OsError kAccessDenied{13, 5, "Permission denied"};                // ERROR_ACCESS_DENIED
inline constexpr OsError kIsAFolder{21, 5, "Is a directory"};                      // a folder stands there
inline constexpr OsError kNotAFolder{20, 3, "Not a directory"};                    // a file on the path
inline constexpr OsError kDiskFull{28, 112, "No space left on device"};             // ERROR_DISK_FULL
inline constexpr OsError kAlreadyExists{17, 183, "File exists"};                   // ERROR_ALREADY_EXISTS
inline constexpr OsError kConnectionRefused{111, 10061, "Connection refused"};     // WSAECONNREFUSED
inline constexpr OsError kTimedOut{110, 10060, "Connection timed out"};            // WSAETIMEDOUT
inline constexpr OsError kCancelled{125, 995, "Operation canceled"};               // ERROR_OPERATION_ABORTED

// "Socket Error # %d\r\n%s" as the socket layer reports the error.
inline std::string SocketErrorMessage(const OsError& e) {
  return "Socket Error # " + std::to_string(e.Code()) + "\r\n" + e.Text() + ".";
}

}  // namespace sv::test
