#include "platform/Clock.h"

#include <cmath>

namespace sv {

TDateTime UnixToDateTime(std::int64_t unixSeconds, std::int64_t utcOffset) {
  // 25569 days lie between 1899-12-30 and 1970-01-01.
  return 25569.0 + static_cast<double>(unixSeconds + utcOffset) / 86400.0;
}

std::int64_t DateTimeToUnix(TDateTime value, std::int64_t utcOffset) {
  return static_cast<std::int64_t>(std::floor((value - 25569.0) * 86400.0 + 0.0005)) - utcOffset;
}

}  // namespace sv
