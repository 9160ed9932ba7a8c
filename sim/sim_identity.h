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

  bool operator==(const SimIdentity&) const = default;
};

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
