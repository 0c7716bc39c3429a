#include "platform/Clock.h"

#include <time.h>

namespace sv {

std::int64_t CurrentUtcOffset() {
  time_t now = time(nullptr);
  struct tm local {};
  localtime_r(&now, &local);
  return local.tm_gmtoff;
}

TDateTime Now() {
  struct timespec ts {};
  clock_gettime(CLOCK_REALTIME, &ts);
  struct tm local {};
  localtime_r(&ts.tv_sec, &local);
  return UnixToDateTime(ts.tv_sec, local.tm_gmtoff) + ts.tv_nsec / 1e9 / 86400.0;
}

}  // namespace sv
