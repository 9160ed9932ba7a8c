// One open HID interface: opening by path (report IDs and lengths as the
// backend states them, else from the report descriptor), closing, report
// write with zero padding, the fixed 1000 ms read whose time-out leaves the
// read pending, and error texts.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <limits>

#include "device/hid_error_text.h"
#include "device/hid_link.h"
#include "device/hid_link_state.h"
#include "device/report_descriptor.h"
#include "device/report_layout.h"

namespace torvane {

namespace {

thread_local std::string t_last_open_error;

void set_error_text(HidDevice* device, std::string_view text) {
  device->last_error_text = hid_first_line(text);
}

HidDevice* fail_open(const std::string& reason) {
  hid_link_set_last_open_error(hid_first_line(reason));
  return nullptr;
}

}  // namespace

void hid_link_set_last_open_error(std::string reason) { t_last_open_error = std::move(reason); }

std::string hid_link_last_open_error() { return t_last_open_error; }

bool hid_link_last_open_denied() {
  return t_last_open_error.find(kHidPermissionDeniedText) != std::string::npos;
}

HidDevice* hid_link_open_path(const std::string& path) { return hid_link_open_collection(path, std::nullopt); }

HidDevice* hid_link_open_collection(const std::string& path, std::optional<HidUsagePair> usage) {
  hid_link_set_last_open_error({});
  std::shared_ptr<HidBackend> backend = hid_link_backend();
  if (!backend) return fail_open("HID library not available");
  if (path.empty()) return fail_open("empty device path");

  std::string error;
  std::unique_ptr<HidBackendDevice> handle = backend->open_path(path, &error);
  if (!handle) return fail_open(error.empty() ? "cannot open " + path : error);

  std::optional<ReportLayout> stated = handle->report_layout();
  if (!stated) {
    std::optional<std::vector<uint8_t>> descriptor = handle->report_descriptor();
    if (!descriptor) {
      return fail_open("cannot read the report descriptor of " + path + ": " + hid_first_line(handle->error_text()));
    }
    const ReportDescriptorSummary summary = parse_report_descriptor(descriptor->data(), descriptor->size());
    if (!summary.ok()) return fail_open(path + ": " + report_descriptor_error_text(summary.error));
    stated = select_report_layout(summary, usage);
  }
  const ReportLayout& layout = *stated;
  if (!layout.has_output) return fail_open(path + ": report descriptor declares no output report");
  if (!layout.has_input) return fail_open(path + ": report descriptor declares no input report");
  // Lengths beyond the limit are refused here, so no buffer above this layer
  // has to cope with them.
  if (layout.output_report_length > kHidMaxReportLength || layout.input_report_length > kHidMaxReportLength) {
    return fail_open(path + ": report longer than " + std::to_string(kHidMaxReportLength) + " bytes");
  }

  auto* device = new HidDevice;
  device->handle = std::move(handle);
  device->output_report_length = static_cast<uint16_t>(layout.output_report_length);
  device->input_report_length = layout.input_report_length;
  device->output_report_id = layout.output_report_id;
  device->input_report_id = layout.input_report_id;
  device->foreign_input_ids = layout.foreign_input_ids;
  device->path = path;
  device->read_buffer.assign(device->input_report_length, 0);
  return device;
}

void hid_link_close(HidDevice* device) {
  // Destroying the backend handle closes the interface; a backend that keeps
  // a read in flight after a time-out (Windows) cancels it there.
  delete device;
}

int hid_link_write(HidDevice* device, const uint8_t* data, size_t count) {
  if (device == nullptr) return -1;
  if (!device->handle) {
    set_error_text(device, "device is not open");
    return -1;
  }
  if (data == nullptr || count > static_cast<size_t>(std::numeric_limits<int>::max())) {
    set_error_text(device, "invalid write buffer");
    return -1;
  }
  int written;
  if (count < device->output_report_length) {
    // Short reports go out zero-padded to the full output report length.
    std::vector<uint8_t> padded(device->output_report_length, 0);
    if (count > 0) std::memcpy(padded.data(), data, count);
    written = device->handle->write(padded.data(), padded.size());
  } else {
    written = device->handle->write(data, count);
  }
  if (written < 0) {
    hid_link_store_error(device);
    return -1;
  }
  return written;
}

int hid_link_read(HidDevice* device, uint8_t* destination, size_t capacity) {
  if (device == nullptr) return -1;
  if (!device->handle) {
    set_error_text(device, "device is not open");
    return -1;
  }
  if (destination == nullptr || capacity == 0) {
    set_error_text(device, "invalid read buffer");
    return -1;
  }
  // A device record built by hand may lack its buffer; never let the read
  // land outside one, nor allocate beyond the supported report length.
  size_t want = device->input_report_length != 0 ? device->input_report_length : capacity;
  want = std::min<size_t>(want, kHidMaxReportLength);
  if (device->read_buffer.size() < want) device->read_buffer.resize(want);
  if (!device->read_pending) {
    device->read_pending = true;
    std::fill(device->read_buffer.begin(), device->read_buffer.end(), 0);
  }
  // The kernel queues input reports, so a report that arrives after a
  // time-out is the one the next call collects: the read stays pending.
  // Another collection's reports (a keyboard's key reports between two
  // replies) are passed over within the same wait.
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(kHidReadTimeoutMs);
  int wait_ms = kHidReadTimeoutMs;
  int count;
  for (;;) {
    count = device->handle->read(device->read_buffer.data(), want, wait_ms);
    if (count <= 0 || !device->foreign_input_ids.test(device->read_buffer[0])) break;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return 0;
    wait_ms = static_cast<int>(left);
  }
  if (count == 0) return 0;
  device->read_pending = false;
  if (count < 0) {
    hid_link_store_error(device);
    return -1;
  }
  const size_t delivered = std::min({static_cast<size_t>(count), capacity, want});
  std::memcpy(destination, device->read_buffer.data(), delivered);
  return static_cast<int>(delivered);
}

int hid_link_discard_input(HidDevice* device) {
  if (device == nullptr || !device->handle) return -1;
  device->read_pending = false;
  const int dropped = device->handle->discard_input();
  if (dropped < 0) hid_link_store_error(device);
  return dropped;
}

void hid_link_store_error(HidDevice* device) {
  if (device == nullptr) return;
  if (!device->handle) {
    set_error_text(device, "device is not open");
    return;
  }
  set_error_text(device, device->handle->error_text());
}

}  // namespace torvane
