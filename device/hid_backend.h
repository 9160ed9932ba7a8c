// The platform seam under the HID device layer. hid_link talks only to this
// interface; the hidapi backend (real hidraw devices) and the simulated bus
// (tests, demos) implement it, so everything above runs unchanged on either.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "device/report_layout.h"

namespace torvane {

// One HID interface as the platform lists it.
struct HidInterfaceRecord {
  std::string path;
  uint16_t vendor_id = 0;
  uint16_t product_id = 0;
  std::optional<std::wstring> serial_number;
  uint16_t release_number = 0;
  std::optional<std::wstring> manufacturer_string;
  std::optional<std::wstring> product_string;
  uint16_t usage_page = 0;   // 0 when unknown
  uint16_t usage = 0;        // 0 when unknown
  int32_t interface_number = -1;
};

// An open interface. One thread uses it at a time; close happens in the
// destructor. Reports travel as the Linux hidraw node moves them:
//  - write: the report-ID byte first (0 for a device without report IDs),
//    then the report;
//  - read: one input report, with its report-ID byte first only when the
//    device uses report IDs.
class HidBackendDevice {
 public:
  virtual ~HidBackendDevice() = default;

  // Bytes written (report-ID byte included) or -1.
  virtual int write(const uint8_t* data, size_t length) = 0;

  // Waits at most timeout_ms for one input report. Returns the byte count
  // copied (at most capacity; the rest of a longer report is lost), 0 when
  // nothing arrived in time, -1 on failure (device gone, I/O error).
  // A report that arrives after a time-out is kept and returned by the next
  // call, as the kernel queues it.
  virtual int read(uint8_t* buffer, size_t capacity, int timeout_ms) = 0;

  // Drops every input report already queued, without waiting for more.
  // Returns how many were dropped, or -1 when the device has gone (or the
  // read failed) with nothing left to drop. This default reads with a zero
  // time-out; a backend that can empty its queue more cheaply overrides it.
  virtual int discard_input() {
    uint8_t scratch[64];
    int dropped = 0;
    for (int i = 0; i < kMaxDiscardedReports; ++i) {
      const int n = read(scratch, sizeof scratch, 0);
      if (n < 0) return dropped > 0 ? dropped : -1;
      if (n == 0) break;
      ++dropped;
    }
    return dropped;
  }

  // Bound of one discard_input: a device that floods the host with reports
  // cannot keep the caller in the loop.
  static constexpr int kMaxDiscardedReports = 256;

  // The raw report descriptor, or nullopt when it cannot be had.
  virtual std::optional<std::vector<uint8_t>> report_descriptor() = 0;

  // The report IDs and lengths of the collection this handle was opened
  // for, when the platform states them itself (Windows opens each top-level
  // collection as a device of its own and hands out no descriptor). Nullopt:
  // the device layer derives the layout from report_descriptor().
  virtual std::optional<ReportLayout> report_layout() { return std::nullopt; }

  // First line of the text for the last failure on this device.
  virtual std::string error_text() = 0;
};

class HidBackend {
 public:
  virtual ~HidBackend() = default;

  // Brings the platform library up (hid_link_init). Returning false means the
  // library is unusable: no lock is created and no device is ever found.
  // When given, *error receives the reason.
  virtual bool initialise(std::string* error) {
    (void)error;
    return true;
  }

  // Releases the platform library (hid_link_exit). Called once after a
  // successful initialise.
  virtual void shutdown() {}

  // Every present HID interface (one record per top-level collection), in
  // the platform's order.
  virtual std::vector<HidInterfaceRecord> enumerate() = 0;

  // Opens an interface by path; on failure returns null and, when given,
  // fills *error with the reason.
  virtual std::unique_ptr<HidBackendDevice> open_path(const std::string& path,
                                                      std::string* error) = 0;

  // Where the interface at `path` is plugged in, stable for a port across
  // re-plugs: the USB device's bus and port chain ("1-1.2"), or for a device
  // without a USB parent its HID physical-location string. Empty when the
  // interface is gone or the platform tells nothing.
  virtual std::string port_path(const std::string& path) {
    (void)path;
    return {};
  }
};

}  // namespace torvane
