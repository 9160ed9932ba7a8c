// The report layout an open device uses: which top-level collection of its
// descriptor it was opened for, and that collection's report IDs and
// lengths. A hidraw node carries every collection of an interface, and
// hidapi lists one record per collection under the same path; the open
// takes the layout of the collection whose record matched.
#pragma once

#include <bitset>
#include <cstdint>
#include <optional>

#include "device/report_descriptor.h"

namespace torvane {

struct ReportLayout {
  bool has_input = false;
  bool has_output = false;
  uint8_t input_report_id = 0;
  uint8_t output_report_id = 0;
  uint32_t input_report_length = 0;   // longest input report + 1 (ID byte)
  uint32_t output_report_length = 0;  // longest output report + 1
  // Input report IDs that belong to other collections only: the node
  // delivers them too, and they are never the answer to a request.
  std::bitset<256> foreign_input_ids;
};

// The layout for a device opened through the record listed with `usage`
// (nullopt: opened by path alone). A descriptor with one top-level
// collection (or none) gives the whole descriptor's layout. Otherwise the
// collection is the first whose own usage equals `usage`, else the first
// holding a nested collection with that usage (hidapi lists those too);
// by path alone, or when no collection has the usage, the first collection
// with both an input and an output report; when none has both, the whole
// descriptor's layout.
ReportLayout select_report_layout(const ReportDescriptorSummary& summary,
                                  std::optional<HidUsagePair> usage);

}  // namespace torvane
