// The kinds of attached device and the codes of the status report.
#pragma once

#include <cstdint>

namespace torvane {

// Held in an unsigned 16-bit value, as the rest of the tool stores it.
enum DeviceState : uint16_t {
  DS_UNSET = 0,  // only before the first detection
  DS_NONE = 1,
  DS_OLDBOOT = 2,
  DS_BOOT = 3,
  DS_APP = 4,
};

enum ReportCode : int {
  RC_NO_DEVICE = 1,
  RC_FOUND = 2,
  RC_OPENED = 3,
  RC_WAITING = 4,
  RC_ERROR = 255,
};

// Whether detection may take a device for a kind through this identity: a
// VID or PID of 0 matches any value, so an identity with both at 0 would
// match every HID device and is never used.
inline constexpr bool IdentityCanMatch(uint16_t vid, uint16_t pid) { return vid != 0 || pid != 0; }

// Device-change events as the notification source reports them.
inline constexpr uint32_t DBT_DEVICEARRIVAL = 0x8000;
inline constexpr uint32_t DBT_DEVICEREMOVECOMPLETE = 0x8004;

}  // namespace torvane
