// The records exchanged with the kernel's /dev/uhid: one struct uhid_event
// per read or write. Building and decoding them is kept apart from the I/O
// so that it can be checked without a kernel.
#pragma once

#include <linux/uhid.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/sim_identity.h"

namespace torvane::virt {

// The longest report one uhid event carries (bytes on the wire).
inline constexpr size_t kUhidMaxReport = UHID_DATA_MAX;

// UHID_CREATE2 for a device showing `identity` with this report descriptor.
// The bus is USB, so the kernel names the device "0003:VVVV:PPPP.NNNN" like
// a real one. Fails (false, *error set) when the descriptor is empty or too
// long for the kernel.
// `phys` is the physical location the kernel shows as HID_PHYS (the port
// path of a device without a USB parent).
inline constexpr const char* kUhidDefaultPhys = "torvane-virtual-device";
bool uhid_make_create(const sim::SimIdentity& identity, const std::vector<uint8_t>& descriptor,
                      uhid_event* event, std::string* error, const std::string& phys = kUhidDefaultPhys);

// UHID_INPUT2 carrying one input report as it travels on the wire. Fails
// for an empty report or one longer than kUhidMaxReport.
bool uhid_make_input(const uint8_t* report, size_t length, uhid_event* event);

uhid_event uhid_make_destroy();

// Replies to the kernel's synchronous GET_REPORT/SET_REPORT requests, which
// this device does not serve: answered at once with an error so that the
// requester is not left waiting for the kernel's time-out.
uhid_event uhid_make_get_report_error(uint32_t id);
uhid_event uhid_make_set_report_error(uint32_t id);

// The bytes of an output report as USB device firmware receives them. The
// kernel hands uhid every output report with its report-ID byte first, 0
// for a device without report IDs; the USB HID driver does not send a 0 ID
// byte over the wire, so it is dropped here too. Returns false when the
// event's size is out of range.
bool uhid_output_to_wire(const uhid_output_req& output, std::vector<uint8_t>* wire);

// A short name for an event type, for diagnostics ("OUTPUT", "START", ...).
const char* uhid_event_name(uint32_t type);

}  // namespace torvane::virt
