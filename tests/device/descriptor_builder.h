// Builds vendor-defined report descriptors of the shape bootloaders use: one
// application collection with one input and one output report of 8-bit
// fields, with or without a report ID.
#pragma once

#include <cstdint>
#include <vector>

namespace torvane::test {

inline void append_report_count(std::vector<uint8_t>& d, uint32_t count) {
  if (count <= 0xFF) {
    d.insert(d.end(), {0x95, static_cast<uint8_t>(count)});
  } else {
    d.insert(d.end(), {0x96, static_cast<uint8_t>(count), static_cast<uint8_t>(count >> 8)});
  }
}

// report_id 0: no Report ID item. Byte counts are the report data without the ID byte.
inline std::vector<uint8_t> vendor_descriptor(uint8_t report_id, uint32_t input_bytes, uint32_t output_bytes) {
  std::vector<uint8_t> d = {0x06, 0x00, 0xFF,  // Usage Page (Vendor 0xFF00)
                            0x09, 0x01,        // Usage (1)
                            0xA1, 0x01};       // Collection (Application)
  if (report_id != 0) d.insert(d.end(), {0x85, report_id});
  d.insert(d.end(), {0x09, 0x02, 0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08});
  append_report_count(d, input_bytes);
  d.insert(d.end(), {0x81, 0x02});  // Input (Data,Var,Abs)
  d.insert(d.end(), {0x09, 0x03});
  append_report_count(d, output_bytes);
  d.insert(d.end(), {0x91, 0x02});  // Output (Data,Var,Abs)
  d.push_back(0xC0);                // End Collection
  return d;
}

}  // namespace torvane::test
