// The three faces a simulated device can show on the bus (application
// firmware, current bootloader, old bootloader) and what the bus lists for
// each: USB IDs, top-level usage, strings and report layout.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace torvane::sim {

enum class SimDeviceKind : uint8_t { kApp, kBoot, kOldBoot };

// "app", "boot", "oldboot".
const char* sim_kind_name(SimDeviceKind kind);
std::optional<SimDeviceKind> sim_kind_from_name(std::string_view name);

// Bootloaders answer block and start frames; the application only INFO and
// ENTER_BOOT.
inline bool sim_kind_is_bootloader(SimDeviceKind kind) { return kind != SimDeviceKind::kApp; }

struct SimIdentity {
  SimDeviceKind kind = SimDeviceKind::kBoot;
  uint16_t vendor_id = 0;
  uint16_t product_id = 0;
  uint16_t usage_page = 0;
  uint16_t usage = 0;
  // What hidapi on hidraw lists for a device without a USB interface (uhid,
  // the stack the kernel tests run on): release 0, interface -1 and a
  // manufacturer string that is present but empty.
  uint16_t release_number = 0;
  int32_t interface_number = -1;
  std::wstring manufacturer;
  std::wstring product;
  std::wstring serial_number;
  uint8_t report_id = 0;        // 0: the device uses no report IDs
  uint32_t report_length = 65;  // input and output report length, ID byte included
  // Length of the reply input report (ID byte included) when it is shorter
  // than the longest input report; 0: replies are report_length long.
  uint32_t reply_length = 0;
  // An extra top-level collection before the device's own one (a keyboard
  // with its own report ID and input report length); 0: none.
  uint8_t composite_report_id = 0;
  uint32_t composite_report_length = 0;

  bool operator==(const SimIdentity&) const = default;
};

// The report ID of the longest input report of a device whose replies are
// shorter (reply_length): the one after its own report ID (254 after 255).
inline uint8_t sim_long_input_report_id(uint8_t report_id) {
  return report_id == 255 ? 254 : static_cast<uint8_t>(report_id + 1);
}

// Factory identities: bootloader 484F:5048 and old bootloader 484F:5045 on
// the vendor usage page FF00 usage 1; application 0534:0002 on usage page 1
// usage 0 (the identity the tool looks for by default). 65-byte reports
// without report IDs. Release 0, interface -1 and an empty manufacturer, as
// hidapi lists a uhid device.
SimIdentity sim_default_identity(SimDeviceKind kind);

// The info text each kind answers INFO with unless told otherwise. The
// bootloader's equals the newest version the tool knows by default, so a
// default device draws no update advice; the old bootloader's differs.
std::string sim_default_info_text(SimDeviceKind kind);

}  // namespace torvane::sim
