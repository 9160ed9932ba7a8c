// The local calendar time of a moment and the local offset from UTC in
// force then (daylight saving included), for time stamps with a zone.
#pragma once

#include <ctime>

namespace torvane::platform {

// Fills *local and *utc_offset_minutes (east of UTC positive). False when
// the moment cannot be converted.
bool LocalTime(std::time_t when, std::tm* local, long* utc_offset_minutes);

}  // namespace torvane::platform
