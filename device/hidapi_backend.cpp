#include "device/hidapi_backend.h"

#include <fcntl.h>
#include <hidapi/hidapi.h>
#include <linux/hidraw.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>

#include "device/hid_error_text.h"
#include "device/hid_link.h"
#include "device/hidraw_report_io.h"
#include "device/udev_port_path.h"

namespace torvane {

namespace {

// hidapi keeps its library-wide error text (start-up, enumeration) in one
// global; calls that touch it are serialised here.
std::mutex& hidapi_global_mutex() {
  static std::mutex mutex;
  return mutex;
}

std::optional<std::wstring> wide_or_null(const wchar_t* text) {
  if (text == nullptr) return std::nullopt;
  return std::wstring(text);
}

// Reads the report descriptor from an open hidraw node.
std::optional<std::vector<uint8_t>> read_descriptor(int fd, std::string* error) {
  int size = 0;
  if (::ioctl(fd, HIDIOCGRDESCSIZE, &size) < 0) {
    *error = std::string("HIDIOCGRDESCSIZE failed: ") + std::strerror(errno);
    return std::nullopt;
  }
  if (size < 0 || size > HID_MAX_DESCRIPTOR_SIZE) {
    *error = "report descriptor size out of range: " + std::to_string(size);
    return std::nullopt;
  }
  hidraw_report_descriptor descriptor{};
  descriptor.size = static_cast<uint32_t>(size);
  if (::ioctl(fd, HIDIOCGRDESC, &descriptor) < 0) {
    *error = std::string("HIDIOCGRDESC failed: ") + std::strerror(errno);
    return std::nullopt;
  }
  return std::vector<uint8_t>(descriptor.value, descriptor.value + size);
}

// An open hidraw node with its report descriptor.
struct HidrawNode {
  int fd = -1;
  std::vector<uint8_t> descriptor;
};

// Opens `path` read-write and non-blocking, checks that it is a hidraw node
// and takes its report descriptor. Only such nodes are ever used: hidapi
// 0.13's own open frees an uninitialised pointer when a node does not answer
// the hidraw ioctls (a regular file, another character device), so it is
// never handed a path at all.
std::optional<HidrawNode> open_hidraw_node(const std::string& path, std::string* reason) {
  const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    const int err = errno;
    *reason = "cannot open " + path + ": " + std::strerror(err);
    // strerror follows the locale; the refusal must stay recognisable.
    if ((err == EACCES || err == EPERM) && reason->find(kHidPermissionDeniedText) == std::string::npos) {
      *reason += std::string(" (") + kHidPermissionDeniedText + ")";
    }
    return std::nullopt;
  }
  struct stat st {};
  std::optional<std::vector<uint8_t>> descriptor;
  if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) {
    *reason = path + " is not a hidraw device";
  } else {
    std::string error;
    descriptor = read_descriptor(fd, &error);
    if (!descriptor) *reason = path + " is not a hidraw device: " + error;
  }
  if (!descriptor) {
    ::close(fd);
    return std::nullopt;
  }
  return HidrawNode{fd, std::move(*descriptor)};
}

// Reports move on the backend's own file descriptor of the node, not
// through hidapi's hid_read_timeout: hidapi 0.13 polls first and fails as
// soon as the node has hung up, dropping an input report still queued in it
// (the answer to the last block of a bootloader that resets at once).
class HidrawDevice final : public HidBackendDevice {
 public:
  explicit HidrawDevice(HidrawNode node) : node_(std::move(node)), writer_(node_.fd) {}
  ~HidrawDevice() override { ::close(node_.fd); }
  HidrawDevice(const HidrawDevice&) = delete;
  HidrawDevice& operator=(const HidrawDevice&) = delete;

  // A write goes through the writer, which ends it within its budget even
  // when the kernel holds it (a USB device that stopped reading). Right
  // after an input report came, the device has read the last output report
  // and has room for the next one: that write goes out straight.
  int write(const uint8_t* data, size_t length) override {
    const bool straight = answered_;
    answered_ = false;
    return writer_.write(data, length, &error_, straight);
  }

  int read(uint8_t* buffer, size_t capacity, int timeout_ms) override {
    const int n = hidraw_read_report(node_.fd, buffer, capacity, timeout_ms, &error_);
    if (n > 0) answered_ = true;
    return n;
  }

  int discard_input() override { return hidraw_discard_reports(node_.fd, kMaxDiscardedReports, &error_); }

  // Taken when the node was opened.
  std::optional<std::vector<uint8_t>> report_descriptor() override { return node_.descriptor; }

  std::string error_text() override { return hid_first_line(error_); }

 private:
  HidrawNode node_;
  // Declared after the node: destroyed first, it never outlives the
  // descriptor it duplicated from (its thread has a copy of its own).
  HidrawWriter writer_;
  bool answered_ = false;  // an input report came since the last write
  std::string error_;
};

class HidapiBackend final : public HidBackend {
 public:
  bool initialise(std::string* error) override {
    std::lock_guard<std::mutex> guard(hidapi_global_mutex());
    if (hid_init() != 0) {
      if (error != nullptr) *error = "hid_init failed: " + hid_first_line(hid_wide_to_utf8(hid_error(nullptr)));
      return false;
    }
    return true;
  }

  void shutdown() override {
    std::lock_guard<std::mutex> guard(hidapi_global_mutex());
    hid_exit();
  }

  std::vector<HidInterfaceRecord> enumerate() override {
    std::vector<HidInterfaceRecord> records;
    std::lock_guard<std::mutex> guard(hidapi_global_mutex());
    hid_device_info* list = hid_enumerate(0, 0);
    for (const hid_device_info* p = list; p != nullptr; p = p->next) {
      HidInterfaceRecord record;
      record.path = p->path != nullptr ? p->path : "";
      record.vendor_id = p->vendor_id;
      record.product_id = p->product_id;
      record.serial_number = wide_or_null(p->serial_number);
      record.release_number = p->release_number;
      record.manufacturer_string = wide_or_null(p->manufacturer_string);
      record.product_string = wide_or_null(p->product_string);
      record.usage_page = p->usage_page;
      record.usage = p->usage;
      record.interface_number = p->interface_number;
      records.push_back(std::move(record));
    }
    hid_free_enumeration(list);
    return records;
  }

  std::unique_ptr<HidBackendDevice> open_path(const std::string& path, std::string* error) override {
    std::string reason;
    std::optional<HidrawNode> node = open_hidraw_node(path, &reason);
    if (node) return std::make_unique<HidrawDevice>(std::move(*node));
    if (error != nullptr) *error = reason.empty() ? "cannot open " + path : reason;
    return nullptr;
  }

  std::string port_path(const std::string& path) override { return udev_port_path_of_hidraw(path); }
};

}  // namespace

std::shared_ptr<HidBackend> make_hidapi_backend() { return std::make_shared<HidapiBackend>(); }

}  // namespace torvane
