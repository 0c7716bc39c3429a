#pragma once
// The status document for scripts and monitoring (GET /status.json): JSON in UTF-8 with
// the settings, the last attempt and success, the last connection's protection, the
// newest log entry, the pause, the running synchronisation's progress and each
// project's last result. Times are ISO 8601 local times with the UTC offset now in
// force ("2026-12-06T12:31:57+01:00"), or null for never. The README describes every
// field.
#include <cstdint>
#include <string>
#include <string_view>

#include "base/DateTime.h"

namespace sv {

class ConsoleController;

std::string StatusJson(ConsoleController& controller);

// The ISO 8601 form used above, with an offset in seconds east of UTC.
std::string IsoDateTime(TDateTime value, std::int64_t utcOffset);

// The text (Windows-1250) as a JSON string in UTF-8, quotes included.
std::string JsonString(std::string_view cp1250);

}  // namespace sv
