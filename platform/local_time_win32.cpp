// Windows: localtime_s, and the offset as the difference between the local
// fields read as UTC (_mkgmtime) and the moment itself.
#include "platform/local_time.h"

#include <time.h>

namespace torvane::platform {

bool LocalTime(std::time_t when, std::tm* local, long* utc_offset_minutes) {
  if (localtime_s(local, &when) != 0) return false;
  std::tm fields = *local;
  const std::time_t as_utc = _mkgmtime(&fields);
  if (as_utc == static_cast<std::time_t>(-1)) return false;
  *utc_offset_minutes = static_cast<long>((as_utc - when) / 60);
  return true;
}

}  // namespace torvane::platform
