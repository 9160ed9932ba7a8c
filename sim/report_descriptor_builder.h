// Report descriptors for simulated interfaces.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/sim_identity.h"

namespace torvane::sim {

// A vendor-style descriptor: one application collection with the given
// top-level usage page and usage, holding one input and one output report of
// report_length - 1 bytes each (report_length counts the report-ID byte, as
// the device layer does), both under Report ID report_id when it is not 0.
// Returns an empty vector when report_length is below 2 or above 65536.
std::vector<uint8_t> build_vendor_report_descriptor(uint16_t usage_page, uint16_t usage,
                                                    uint8_t report_id, uint32_t report_length);

// The descriptor a simulated device of this identity declares: its own
// vendor-style collection, with a shorter reply input report when
// reply_length is set (the reply under report_id, a longest input report
// under sim_long_input_report_id), behind an extra keyboard collection
// (usage page 1, usage 6) when composite_report_id is set: key-code input
// report of composite_report_length - 1 bytes and a one-byte LED output
// report, both under composite_report_id.
std::vector<uint8_t> build_sim_report_descriptor(const SimIdentity& identity);

// The standard boot-protocol keyboard descriptor (8-byte input report,
// 1-byte LED output report, no report IDs), for inert keyboard interfaces.
std::vector<uint8_t> keyboard_report_descriptor();

}  // namespace torvane::sim
