// Linux: localtime_r, and the offset from tm_gmtoff.
#include "platform/local_time.h"

namespace torvane::platform {

bool LocalTime(std::time_t when, std::tm* local, long* utc_offset_minutes) {
  if (localtime_r(&when, local) == nullptr) return false;
  *utc_offset_minutes = local->tm_gmtoff / 60;
  return true;
}

}  // namespace torvane::platform
