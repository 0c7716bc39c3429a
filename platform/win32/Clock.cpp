#include "platform/Clock.h"

#include "platform/win32/WinText.h"

namespace sv {

std::int64_t CurrentUtcOffset() {
  // The bias the system applies to this moment, as FileTimeToLocalFileTime does.
  FILETIME utc, local;
  ::GetSystemTimeAsFileTime(&utc);
  ::FileTimeToLocalFileTime(&utc, &local);
  return win::FileTimeToUnix(local) - win::FileTimeToUnix(utc);
}

TDateTime Now() {
  SYSTEMTIME t;
  ::GetLocalTime(&t);
  TDateTime date = 0, time = 0;
  TryEncodeDate(t.wYear, t.wMonth, t.wDay, date);
  TryEncodeTime(t.wHour, t.wMinute, t.wSecond, t.wMilliseconds, time);
  return date + time;
}

}  // namespace sv
