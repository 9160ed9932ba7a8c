// The tool's only access to USB HID hardware: one process-wide context that
// caches the list of HID interfaces under a re-entrant lock, hands out
// filtered copies, opens the interface matching a device identity and moves
// single reports in and out with a bounded wait.
#pragma once

#include <bitset>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "device/hid_backend.h"

namespace torvane {

// One enumerated HID interface; lists are singly linked, in enumeration
// order, and every list handed out is the caller's (hid_link_free_list).
struct HidDeviceInfo {
  HidDeviceInfo* next = nullptr;
  std::string path;
  uint16_t vendor_id = 0;
  uint16_t product_id = 0;
  std::optional<std::wstring> serial_number;
  uint16_t release_number = 0;
  std::optional<std::wstring> manufacturer_string;
  std::optional<std::wstring> product_string;
  uint16_t usage_page = 0;
  uint16_t usage = 0;
  int32_t interface_number = -1;
};

// The longest report this layer accepts from a report descriptor (bytes,
// report-ID byte included). Longer reports are refused when the device is
// opened rather than handled with buffers that might overflow.
inline constexpr uint32_t kHidMaxReportLength = 4097;

// The fixed wait of hid_link_read.
inline constexpr int kHidReadTimeoutMs = 1000;

// One open interface. Belongs to whoever opened it until hid_link_close.
struct HidDevice {
  std::unique_ptr<HidBackendDevice> handle;
  uint16_t output_report_length = 0;  // longest output report + 1 (ID byte)
  uint32_t input_report_length = 0;   // longest input report + 1 (ID byte)
  uint8_t output_report_id = 0;       // 0 when the device uses no report IDs
  uint8_t input_report_id = 0;
  std::optional<std::string> last_error_text;
  bool read_pending = false;          // a read timed out and is still owed
  std::string path;                   // the path it was opened with
  std::vector<uint8_t> read_buffer;   // where a read lands (input_report_length bytes)
  // Input report IDs of the node's other top-level collections: a read
  // waiting for this collection's report passes over them.
  std::bitset<256> foreign_input_ids;
};

// Text that marks an open refused for lack of access rights (strerror(EACCES));
// the reason from hid_link_last_open_error contains it in that case.
inline constexpr const char* kHidPermissionDeniedText = "Permission denied";

// Selects the backend used by the next hid_link_init. Without a call the
// hidapi backend (real devices) is used. Passing null restores that default.
void hid_link_set_backend(std::shared_ptr<HidBackend> backend);

void hid_link_init();
int hid_link_exit();

HidDeviceInfo* hid_link_enumerate();
void hid_link_refresh();
HidDeviceInfo* hid_link_find(uint16_t vendor_id, uint16_t product_id);
void hid_link_free_list(HidDeviceInfo* list);

// Opens the first cached interface with exactly this VID/PID and, when
// given, this usage page and usage. The device gets the report IDs and
// lengths of the top-level collection that record was listed for.
HidDevice* hid_link_open(uint16_t vendor_id, uint16_t product_id,
                         const uint16_t* usage_page, const uint16_t* usage);
// Opens the interface at `path` as hid_link_open opens an identity: the
// first collection listed for that path that has this usage page and usage
// (null: any), with that collection's reports. When none is listed, the
// reason says so.
HidDevice* hid_link_open_path_usage(const std::string& path, const uint16_t* usage_page, const uint16_t* usage);
// Opens by path alone: the reports of the first top-level collection that
// has both an input and an output report.
HidDevice* hid_link_open_path(const std::string& path);
void hid_link_close(HidDevice* device);

int hid_link_write(HidDevice* device, const uint8_t* data, size_t count);
// Waits at most 1000 ms for an input report of the device's own collection;
// reports carrying another collection's report ID are passed over within
// that same wait.
int hid_link_read(HidDevice* device, uint8_t* destination, size_t capacity);
// Drops every input report already queued on the device without waiting, so
// that the next read can only return a report that arrives from now on; a
// read left pending by a time-out is given up. Returns the number dropped,
// or -1 for a null or closed device or one that has gone.
int hid_link_discard_input(HidDevice* device);
// Replaces last_error_text with the first line of the backend's text for
// the last failure on this device.
void hid_link_store_error(HidDevice* device);

// The reason the last hid_link_open_path on this thread failed, or empty.
// Used to tell the operator about missing hidraw permissions. Cleared when an
// open starts; hid_link_open leaves it empty when no interface matched.
std::string hid_link_last_open_error();

// True when the last failed open on this thread was refused for lack of
// access rights (the front end then points at the udev rule).
bool hid_link_last_open_denied();

// Where the interface at `path` is plugged in (HidBackend::port_path);
// empty before init, after exit, or when the backend cannot tell.
std::string hid_link_port_path(const std::string& path);

// The USB interface number in a Windows-style device path: the hexadecimal
// digits after "&mi_" (case-sensitive), -1 when absent or without digits.
// The Windows backend numbers its records this way; on Linux hidapi tells.
int32_t hid_interface_number_from_path(const std::string& path);

// Owning wrapper for lists handed out by hid_link_find/enumerate.
struct HidDeviceInfoListDeleter {
  void operator()(HidDeviceInfo* list) const { hid_link_free_list(list); }
};
using HidDeviceInfoList = std::unique_ptr<HidDeviceInfo, HidDeviceInfoListDeleter>;

}  // namespace torvane
