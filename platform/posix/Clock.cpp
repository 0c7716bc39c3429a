#include "platform/Clock.h"

#include <time.h>

#include <cmath>

namespace sv {

std::int64_t CurrentUtcOffset() {
  time_t now = time(nullptr);
  struct tm local {};
  localtime_r(&now, &local);
  return local.tm_gmtoff;
}

TDateTime UnixToDateTime(std::int64_t unixSeconds, std::int64_t utcOffset) {
  // 25569 days lie between 1899-12-30 and 1970-01-01.
  return 25569.0 + static_cast<double>(unixSeconds + utcOffset) / 86400.0;
}

std::int64_t DateTimeToUnix(TDateTime value, std::int64_t utcOffset) {
  return static_cast<std::int64_t>(std::floor((value - 25569.0) * 86400.0 + 0.0005)) - utcOffset;
}

TDateTime Now() {
  struct timespec ts {};
  clock_gettime(CLOCK_REALTIME, &ts);
  struct tm local {};
  localtime_r(&ts.tv_sec, &local);
  return UnixToDateTime(ts.tv_sec, local.tm_gmtoff) + ts.tv_nsec / 1e9 / 86400.0;
}

}  // namespace sv
