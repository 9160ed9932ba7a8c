#include "device/hidapi_backend.h"

#include <fcntl.h>
#include <hidapi/hidapi.h>
#include <linux/hidraw.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>

#include "device/hid_error_text.h"
#include "device/hid_link.h"

namespace torvane {

namespace {

// hidapi keeps its library-wide error text (enumeration, open) in one global;
// calls that touch it are serialised here. Per-device calls need no lock.
std::mutex& hidapi_global_mutex() {
  static std::mutex mutex;
  return mutex;
}

std::optional<std::wstring> wide_or_null(const wchar_t* text) {
  if (text == nullptr) return std::nullopt;
  return std::wstring(text);
}

// Reads the report descriptor of a hidraw node. The node is opened on its
// own (read-write, else read-only), since hidapi does not expose its handle.
std::optional<std::vector<uint8_t>> read_hidraw_descriptor(const std::string& path, std::string* error) {
  int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    *error = "cannot open " + path + ": " + std::strerror(errno);
    return std::nullopt;
  }
  int size = 0;
  if (::ioctl(fd, HIDIOCGRDESCSIZE, &size) < 0) {
    *error = std::string("HIDIOCGRDESCSIZE failed: ") + std::strerror(errno);
    ::close(fd);
    return std::nullopt;
  }
  if (size < 0 || size > HID_MAX_DESCRIPTOR_SIZE) {
    *error = "report descriptor size out of range: " + std::to_string(size);
    ::close(fd);
    return std::nullopt;
  }
  hidraw_report_descriptor descriptor{};
  descriptor.size = static_cast<uint32_t>(size);
  if (::ioctl(fd, HIDIOCGRDESC, &descriptor) < 0) {
    *error = std::string("HIDIOCGRDESC failed: ") + std::strerror(errno);
    ::close(fd);
    return std::nullopt;
  }
  ::close(fd);
  return std::vector<uint8_t>(descriptor.value, descriptor.value + size);
}

class HidapiDevice final : public HidBackendDevice {
 public:
  HidapiDevice(hid_device* device, std::string path) : device_(device), path_(std::move(path)) {}
  ~HidapiDevice() override { hid_close(device_); }
  HidapiDevice(const HidapiDevice&) = delete;
  HidapiDevice& operator=(const HidapiDevice&) = delete;

  int write(const uint8_t* data, size_t length) override {
    own_error_.clear();
    return hid_write(device_, data, length);
  }

  int read(uint8_t* buffer, size_t capacity, int timeout_ms) override {
    own_error_.clear();
    return hid_read_timeout(device_, buffer, capacity, timeout_ms);
  }

  std::optional<std::vector<uint8_t>> report_descriptor() override {
    own_error_.clear();
    std::string error;
    auto descriptor = read_hidraw_descriptor(path_, &error);
    if (!descriptor) own_error_ = error;
    return descriptor;
  }

  std::string error_text() override {
    if (!own_error_.empty()) return own_error_;
    return hid_first_line(hid_wide_to_utf8(hid_error(device_)));
  }

 private:
  hid_device* device_;
  std::string path_;
  std::string own_error_;  // set when the last failure was ours, not hidapi's
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
    hid_device* device = nullptr;
    std::string reason;
    {
      std::lock_guard<std::mutex> guard(hidapi_global_mutex());
      device = hid_open_path(path.c_str());
      if (device == nullptr) reason = hid_first_line(hid_wide_to_utf8(hid_error(nullptr)));
    }
    if (device != nullptr) return std::make_unique<HidapiDevice>(device, path);
    // Make a refusal for lack of rights recognisable whatever hidapi wrote.
    if (::access(path.c_str(), R_OK | W_OK) != 0 && (errno == EACCES || errno == EPERM) &&
        reason.find(kHidPermissionDeniedText) == std::string::npos) {
      reason += reason.empty() ? "" : ": ";
      reason += kHidPermissionDeniedText;
    }
    if (reason.empty()) reason = "cannot open " + path;
    if (error != nullptr) *error = reason;
    return nullptr;
  }
};

}  // namespace

std::shared_ptr<HidBackend> make_hidapi_backend() { return std::make_shared<HidapiBackend>(); }

}  // namespace torvane
