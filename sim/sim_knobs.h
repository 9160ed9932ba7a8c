// Fault and identity knobs of a simulated device, set from one text so that
// tests, the command line and the dialog share the same notation:
//
//   boot,info=ZAVRO:0.3.0.0 12:33:39 Sep 13 2016,report-id=5,busy-block=3:4
//
// Items are separated by commas; the first names the kind (app, boot,
// oldboot), the rest are key=value pairs or bare flags. In values, "\," is a
// comma and "\\" a backslash. sim/KNOBS.md lists every knob.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/sim_identity.h"
#include "sim/sim_serial.h"

namespace torvane::sim {

// Longest info text a device can hold: the 48-byte record. A 48-byte text
// fills the record without a terminating NUL.
inline constexpr size_t kSimMaxInfoLength = 48;
// Report lengths (ID byte included) a simulated device may declare. The
// lower bound leaves room for a reply's magic, echo and status.
inline constexpr uint32_t kSimMinReportLength = 8;
inline constexpr uint32_t kSimMaxReportLength = 12289;
// Longest input report of the extra keyboard collection (ID byte included).
inline constexpr uint32_t kSimMaxCompositeLength = 1025;
inline constexpr uint32_t kSimMaxLatencyUs = 10'000'000;
inline constexpr uint32_t kSimMaxDelayMs = 60'000;
// bInterfaceNumber is one byte.
inline constexpr int32_t kSimMaxInterfaceNumber = 255;
// Longest serial number and port path a device takes (printable ASCII, no
// blanks; the USB string limit).
inline constexpr size_t kSimMaxNameLength = 126;

// Block `index` is answered busy `count` times before it is taken.
struct SimBusyBlock {
  uint32_t index = 0;
  uint32_t count = 0;
  uint16_t status = 0;  // 1 or 2; 0 = take SimKnobs::busy_block_status

  bool operator==(const SimBusyBlock&) const = default;
};

struct SimKnobs {
  SimDeviceKind kind = SimDeviceKind::kBoot;
  std::optional<std::string> info;  // info text of the starting kind
  std::optional<uint16_t> vendor_id;  // identity overrides of the starting kind
  std::optional<uint16_t> product_id;
  std::optional<uint16_t> usage_page;
  std::optional<uint16_t> usage;
  std::optional<uint16_t> release_number;  // of the starting kind; 0 otherwise
  // USB interface number listed in every mode; -1 (no USB interface, as for
  // a uhid device) unless set.
  int32_t interface_number = -1;
  // Serial number listed in every mode (the unit keeps it across restarts);
  // unset, the bus numbers the kind's factory serial by device.
  std::optional<std::string> serial;
  // Port path the unit is plugged into, kept across re-plugs and restarts;
  // unset, the bus gives "sim-N" (N the device's number on the bus).
  std::optional<std::string> port;
  uint8_t report_id = 0;
  uint32_t report_length = 65;
  uint32_t reply_length = 0;            // 0: replies at report_length
  uint8_t composite_report_id = 0;      // 0: no extra keyboard collection
  uint32_t composite_report_length = 0;
  uint32_t composite_input_every = 0;   // a key report before every Nth reply; 0: never
  uint32_t busy_start = 0;
  std::vector<SimBusyBlock> busy_blocks;
  uint16_t busy_block_status = 2;
  std::vector<uint32_t> silent_blocks;
  std::vector<uint32_t> late_blocks;
  std::vector<uint32_t> wrong_echo_blocks;
  std::optional<uint32_t> unplug_block;
  std::optional<uint32_t> hang_block;  // the device hangs when this block first arrives
  uint32_t latency_us = 0;
  uint32_t late_ms = 1500;
  uint16_t info_status = 0;
  uint16_t enter_status = 0;
  bool enter_silent = false;
  uint16_t start_status = 0;
  uint32_t restart_ms = 200;
  bool no_restart = false;
  bool no_app = false;
  bool no_serial = false;      // lists no serial number at all         // a good download restarts it into its bootloader again
  uint32_t port_lost_ms = 0;   // before a restart's leave: listed, but its port reads empty
  // Where the bootloader reads a unit's serial number in the image it
  // receives (SimVerdict::serial_number); none: it reads none.
  std::optional<SimSerialAt> serial_at;

  bool operator==(const SimKnobs&) const = default;
};

// Parses a knob text. On failure returns false, leaves *knobs untouched and
// puts a one-line reason into *error (when given).
bool parse_sim_knobs(std::string_view text, SimKnobs* knobs, std::string* error);

// The canonical text of a knob set: the kind, then every knob that differs
// from its default, in a fixed order. parse_sim_knobs reads it back to an
// equal set.
std::string format_sim_knobs(const SimKnobs& knobs);

// The identity a device built from these knobs shows in `kind`: factory
// values, with the identity knobs applied when `kind` is the starting kind,
// and the report layout and interface knobs applied to every kind.
SimIdentity sim_identity_for(const SimKnobs& knobs, SimDeviceKind kind);

// The info text answered in `kind`.
std::string sim_info_text_for(const SimKnobs& knobs, SimDeviceKind kind);

}  // namespace torvane::sim
