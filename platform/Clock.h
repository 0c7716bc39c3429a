#pragma once
// The wall clock, in the program's local date-time form.
#include <cstdint>

#include "base/DateTime.h"

namespace sv {

// The current local date-time.
TDateTime Now();

// Seconds east of UTC of the local time zone at this moment.
std::int64_t CurrentUtcOffset();

// Seconds since the POSIX epoch (UTC) as a local date-time, shifted by the given offset.
TDateTime UnixToDateTime(std::int64_t unixSeconds, std::int64_t utcOffset);
// The inverse: a local date-time, taken with the given offset, as POSIX seconds (rounded down).
std::int64_t DateTimeToUnix(TDateTime value, std::int64_t utcOffset);

}  // namespace sv
