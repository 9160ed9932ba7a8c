// HidBackend on Windows. SetupAPI lists the device interfaces of the HID
// class, one per top-level collection; hid.dll tells each one's attributes,
// strings and capabilities. Windows hands out no report descriptor, so an
// open device states its report layout from the collection's capabilities.
// Reports move by overlapped I/O on the interface handle: a read that times
// out stays in flight and the next call collects it, so no report that
// arrives late is lost; closing cancels it.
#include <windows.h>
// hid.dll's headers carry no C linkage of their own.
extern "C" {
#include <hidsdi.h>
#include <hidpi.h>
}
#include <cfgmgr32.h>
#include <setupapi.h>

#include <algorithm>
#include <cstring>
#include <limits>

#include "device/hid_error_text.h"
#include "device/hid_link.h"
#include "device/usb_location_path.h"
#include "platform/system_hid_backend.h"
#include "platform/wide_text_win32.h"

namespace torvane {

namespace {

using platform::Utf8ToWide;
using platform::WideToUtf8;

// The system's text for an error code, with the code.
std::string win32_error_text(DWORD code) {
  return platform::SystemErrorText(code) + " (error " + std::to_string(code) + ")";
}

// Input reports the HID class driver queues for a handle between reads.
constexpr ULONG kInputBuffers = 64;
// The longest a write waits for the device to take its report.
constexpr DWORD kWriteWaitMs = 1000;
// Ancestors visited while looking for a device's USB location.
constexpr int kMaxAncestors = 16;

// Sentinel for "no data item seen" while looking for the first one.
constexpr USHORT kNoDataIndex = std::numeric_limits<USHORT>::max();

struct HandleCloser {
  void operator()(HANDLE h) const {
    if (h != nullptr && h != INVALID_HANDLE_VALUE) CloseHandle(h);
  }
};
using UniqueHandle = std::unique_ptr<void, HandleCloser>;

struct DevInfoSetCloser {
  void operator()(HDEVINFO set) const { SetupDiDestroyDeviceInfoList(set); }
};
using DevInfoSet = std::unique_ptr<void, DevInfoSetCloser>;

DevInfoSet devinfo_set(HDEVINFO set) { return DevInfoSet(set == INVALID_HANDLE_VALUE ? nullptr : set); }

// Preparsed data of an open collection, freed with the object.
class PreparsedData {
 public:
  explicit PreparsedData(HANDLE h) {
    if (!HidD_GetPreparsedData(h, &data_)) data_ = nullptr;
  }
  ~PreparsedData() {
    if (data_ != nullptr) HidD_FreePreparsedData(data_);
  }
  PreparsedData(const PreparsedData&) = delete;
  PreparsedData& operator=(const PreparsedData&) = delete;
  PHIDP_PREPARSED_DATA get() const { return data_; }

 private:
  PHIDP_PREPARSED_DATA data_ = nullptr;
};

std::optional<HIDP_CAPS> collection_caps(const PreparsedData& data) {
  HIDP_CAPS caps{};
  if (data.get() == nullptr || HidP_GetCaps(data.get(), &caps) != HIDP_STATUS_SUCCESS) return std::nullopt;
  return caps;
}

// The report IDs of one report type: the ID of its first data item in
// descriptor order (data indices count in that order) and whether any item
// carries an ID at all.
struct ReportIds {
  uint8_t first = 0;
  bool any = false;
};

template <typename Caps>
void note_ids(const std::vector<Caps>& caps, USHORT* lowest_index, ReportIds* ids) {
  for (const Caps& c : caps) {
    const USHORT index = c.IsRange ? c.Range.DataIndexMin : c.NotRange.DataIndex;
    if (c.ReportID != 0) ids->any = true;
    if (*lowest_index == kNoDataIndex || index < *lowest_index) {
      *lowest_index = index;
      ids->first = c.ReportID;
    }
  }
}

ReportIds report_ids(const PreparsedData& data, HIDP_REPORT_TYPE type, USHORT value_count, USHORT button_count) {
  ReportIds ids;
  USHORT lowest = kNoDataIndex;
  if (value_count > 0) {
    std::vector<HIDP_VALUE_CAPS> values(value_count);
    USHORT n = value_count;
    if (HidP_GetValueCaps(type, values.data(), &n, data.get()) == HIDP_STATUS_SUCCESS) {
      values.resize(n);
      note_ids(values, &lowest, &ids);
    }
  }
  if (button_count > 0) {
    std::vector<HIDP_BUTTON_CAPS> buttons(button_count);
    USHORT n = button_count;
    if (HidP_GetButtonCaps(type, buttons.data(), &n, data.get()) == HIDP_STATUS_SUCCESS) {
      buttons.resize(n);
      note_ids(buttons, &lowest, &ids);
    }
  }
  return ids;
}

// The layout of the collection open as `h`, and whether its reports carry
// report IDs.
struct CollectionLayout {
  ReportLayout layout;
  bool uses_report_ids = false;
};

std::optional<CollectionLayout> collection_layout(HANDLE h) {
  const PreparsedData data(h);
  const std::optional<HIDP_CAPS> caps = collection_caps(data);
  if (!caps) return std::nullopt;
  const ReportIds in = report_ids(data, HidP_Input, caps->NumberInputValueCaps, caps->NumberInputButtonCaps);
  const ReportIds out = report_ids(data, HidP_Output, caps->NumberOutputValueCaps, caps->NumberOutputButtonCaps);
  const ReportIds feature =
      report_ids(data, HidP_Feature, caps->NumberFeatureValueCaps, caps->NumberFeatureButtonCaps);
  CollectionLayout result;
  ReportLayout& layout = result.layout;
  // The byte lengths count the report-ID byte, as the device layer does;
  // one byte alone is a report without data.
  layout.has_input = caps->InputReportByteLength > 1;
  layout.has_output = caps->OutputReportByteLength > 1;
  layout.input_report_length = caps->InputReportByteLength;
  layout.output_report_length = caps->OutputReportByteLength;
  layout.input_report_id = in.first;
  layout.output_report_id = out.first;
  // The collection is a device of its own: no other collection's reports
  // arrive on its handle.
  result.uses_report_ids = in.any || out.any || feature.any;
  return result;
}

// A string of the device (serial number, manufacturer, product); nullopt
// when it has none or does not answer.
template <typename Getter>
std::optional<std::wstring> device_string(HANDLE h, Getter getter) {
  // USB string descriptors hold at most 126 UTF-16 units.
  wchar_t buffer[256] = {};
  if (!getter(h, buffer, sizeof(buffer) - sizeof(wchar_t))) return std::nullopt;
  return std::wstring(buffer);
}

// The interface path of one member of a device-interface set, and the
// device node it belongs to.
struct InterfaceDetail {
  std::wstring path;
  DEVINST node = 0;
};

std::optional<InterfaceDetail> interface_detail(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* data) {
  DWORD size = 0;
  SetupDiGetDeviceInterfaceDetailW(set, data, nullptr, 0, &size, nullptr);
  if (size < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) return std::nullopt;
  // Aligned storage for the variable-length structure.
  std::vector<uint64_t> storage((size + sizeof(uint64_t) - 1) / sizeof(uint64_t));
  auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(storage.data());
  detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof(device);
  if (!SetupDiGetDeviceInterfaceDetailW(set, data, detail, size, nullptr, &device)) return std::nullopt;
  return InterfaceDetail{detail->DevicePath, device.DevInst};
}

// Describes the collection at `path`; false when it cannot be opened even
// for queries (it went away while being listed).
bool describe(const std::wstring& path, HidInterfaceRecord* record) {
  // No access rights asked: attributes and strings need none, and keyboards
  // and mice, which the system holds, can still be listed.
  UniqueHandle h(CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                             nullptr));
  if (h.get() == INVALID_HANDLE_VALUE) return false;
  HIDD_ATTRIBUTES attributes{};
  attributes.Size = sizeof(attributes);
  if (!HidD_GetAttributes(h.get(), &attributes)) return false;
  record->path = WideToUtf8(path);
  record->vendor_id = attributes.VendorID;
  record->product_id = attributes.ProductID;
  record->release_number = attributes.VersionNumber;
  record->serial_number = device_string(h.get(), HidD_GetSerialNumberString);
  record->manufacturer_string = device_string(h.get(), HidD_GetManufacturerString);
  record->product_string = device_string(h.get(), HidD_GetProductString);
  const PreparsedData data(h.get());
  if (const std::optional<HIDP_CAPS> caps = collection_caps(data)) {
    record->usage_page = caps->UsagePage;
    record->usage = caps->Usage;
  }
  record->interface_number = hid_interface_number_from_path(record->path);
  return true;
}

// The strings of a REG_MULTI_SZ value.
std::vector<std::wstring> split_multi_string(const std::vector<wchar_t>& buffer) {
  std::vector<std::wstring> strings;
  size_t at = 0;
  while (at < buffer.size() && buffer[at] != L'\0') {
    const size_t end = std::find(buffer.begin() + static_cast<std::ptrdiff_t>(at), buffer.end(), L'\0') -
                       buffer.begin();
    strings.emplace_back(buffer.data() + at, end - at);
    at = end + 1;
  }
  return strings;
}

std::vector<std::wstring> node_location_paths(DEVINST node) {
  ULONG size = 0;
  ULONG type = 0;
  if (CM_Get_DevNode_Registry_PropertyW(node, CM_DRP_LOCATION_PATHS, &type, nullptr, &size, 0) !=
          CR_BUFFER_SMALL ||
      size == 0) {
    return {};
  }
  std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 2, L'\0');
  if (CM_Get_DevNode_Registry_PropertyW(node, CM_DRP_LOCATION_PATHS, &type, buffer.data(), &size, 0) !=
          CR_SUCCESS ||
      type != REG_MULTI_SZ) {
    return {};
  }
  return split_multi_string(buffer);
}

// The location paths of every present device the USB bus driver lists;
// those of the root hubs number the buses.
std::vector<std::string> usb_location_paths() {
  std::vector<std::string> paths;
  DevInfoSet set = devinfo_set(SetupDiGetClassDevsW(nullptr, L"USB", nullptr, DIGCF_ALLCLASSES | DIGCF_PRESENT));
  if (!set) return paths;
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof(device);
  for (DWORD i = 0; SetupDiEnumDeviceInfo(set.get(), i, &device); ++i) {
    for (const std::wstring& p : node_location_paths(device.DevInst)) paths.push_back(WideToUtf8(p));
  }
  return paths;
}

std::string node_instance_id(DEVINST node) {
  wchar_t id[MAX_DEVICE_ID_LEN + 1] = {};
  if (CM_Get_Device_IDW(node, id, MAX_DEVICE_ID_LEN, 0) != CR_SUCCESS) return {};
  return WideToUtf8(id);
}

DevInfoSet hid_interface_set(GUID* hid_class) {
  HidD_GetHidGuid(hid_class);
  return devinfo_set(SetupDiGetClassDevsW(hid_class, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
}

// The device node of the HID interface at `path` in `set` (the class's
// interfaces), if it is present. Wine numbers device nodes per set, so the
// node is used only while the set lives. SetupDiOpenDeviceInterfaceW would
// find it directly, but Wine lacks it; paths compare without regard to case.
std::optional<DEVINST> interface_node(HDEVINFO set, GUID* hid_class, const std::wstring& path) {
  SP_DEVICE_INTERFACE_DATA data{};
  data.cbSize = sizeof(data);
  for (DWORD i = 0; SetupDiEnumDeviceInterfaces(set, nullptr, hid_class, i, &data); ++i) {
    const std::optional<InterfaceDetail> detail = interface_detail(set, &data);
    if (detail && _wcsicmp(detail->path.c_str(), path.c_str()) == 0) return detail->node;
  }
  return std::nullopt;
}

void fail(std::string* error, std::string text) {
  if (error != nullptr) *error = std::move(text);
}

class Win32HidDevice final : public HidBackendDevice {
 public:
  Win32HidDevice(UniqueHandle handle, const CollectionLayout& layout)
      : handle_(std::move(handle)),
        layout_(layout.layout),
        strip_report_id_(!layout.uses_report_ids),
        read_event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
        write_event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
        read_buffer_(layout.layout.input_report_length, 0) {}

  ~Win32HidDevice() override {
    if (read_pending_) {
      // The read's buffer and event must outlive it: wait for the
      // cancelled read to finish before they go.
      CancelIoEx(handle_.get(), &read_overlapped_);
      DWORD ignored = 0;
      GetOverlappedResult(handle_.get(), &read_overlapped_, &ignored, TRUE);
    }
  }

  Win32HidDevice(const Win32HidDevice&) = delete;
  Win32HidDevice& operator=(const Win32HidDevice&) = delete;

  bool ready() const { return read_event_ && write_event_; }

  // Windows takes exactly the collection's output report length, report-ID
  // byte first; shorter reports are padded with zeros.
  int write(const uint8_t* data, size_t length) override {
    const size_t report_length = layout_.output_report_length;
    if (report_length == 0) return set_error("the device has no output report");
    if (data == nullptr || length == 0) return set_error("empty report");
    if (length > report_length) {
      return set_error("report of " + std::to_string(length) + " bytes is longer than the device's output report (" +
                       std::to_string(report_length) + " bytes)");
    }
    write_buffer_.assign(report_length, 0);
    std::memcpy(write_buffer_.data(), data, length);
    OVERLAPPED overlapped{};
    overlapped.hEvent = write_event_.get();
    ResetEvent(write_event_.get());
    if (!WriteFile(handle_.get(), write_buffer_.data(), static_cast<DWORD>(report_length), nullptr, &overlapped) &&
        GetLastError() != ERROR_IO_PENDING) {
      return set_system_error("write");
    }
    DWORD written = 0;
    if (WaitForSingleObject(write_event_.get(), kWriteWaitMs) != WAIT_OBJECT_0) {
      CancelIoEx(handle_.get(), &overlapped);
      GetOverlappedResult(handle_.get(), &overlapped, &written, TRUE);
      return set_error("write timed out: the device took no report within " + std::to_string(kWriteWaitMs) + " ms");
    }
    if (!GetOverlappedResult(handle_.get(), &overlapped, &written, FALSE)) return set_system_error("write");
    return static_cast<int>(length);
  }

  int read(uint8_t* buffer, size_t capacity, int timeout_ms) override {
    if (read_buffer_.empty()) return set_error("the device has no input report");
    if (!read_pending_) {
      read_overlapped_ = OVERLAPPED{};
      read_overlapped_.hEvent = read_event_.get();
      ResetEvent(read_event_.get());
      if (!ReadFile(handle_.get(), read_buffer_.data(), static_cast<DWORD>(read_buffer_.size()), nullptr,
                    &read_overlapped_) &&
          GetLastError() != ERROR_IO_PENDING) {
        return set_system_error("read");
      }
      read_pending_ = true;
    }
    const DWORD wait = timeout_ms < 0 ? INFINITE : static_cast<DWORD>(timeout_ms);
    const DWORD waited = WaitForSingleObject(read_event_.get(), wait);
    if (waited == WAIT_TIMEOUT) return 0;
    if (waited != WAIT_OBJECT_0) return set_system_error("waiting for a report");
    DWORD count = 0;
    const BOOL done = GetOverlappedResult(handle_.get(), &read_overlapped_, &count, FALSE);
    read_pending_ = false;
    if (!done) return set_system_error("read");
    // Windows puts the report-ID byte first even for a device without IDs
    // (as 0); the device layer sees it only when the device uses IDs.
    const uint8_t* report = read_buffer_.data();
    size_t length = std::min<size_t>(count, read_buffer_.size());
    if (strip_report_id_ && length > 0) {
      ++report;
      --length;
    }
    const size_t copied = std::min(length, capacity);
    if (copied > 0) std::memcpy(buffer, report, copied);
    return static_cast<int>(copied);
  }

  std::optional<std::vector<uint8_t>> report_descriptor() override {
    error_ = "Windows hands out no report descriptor";
    return std::nullopt;
  }

  std::optional<ReportLayout> report_layout() override { return layout_; }

  std::string error_text() override { return hid_first_line(error_); }

 private:
  int set_error(std::string text) {
    error_ = std::move(text);
    return -1;
  }

  int set_system_error(const char* what) {
    const DWORD code = GetLastError();
    // The class driver fails I/O on a collection whose device has gone with
    // one of these; the text then says so, as on Linux.
    const bool gone = code == ERROR_DEVICE_NOT_CONNECTED || code == ERROR_GEN_FAILURE ||
                      code == ERROR_FILE_NOT_FOUND || code == ERROR_BAD_COMMAND;
    return set_error(std::string(gone ? "device disconnected (" : "") + what + ": " + win32_error_text(code) +
                     (gone ? ")" : ""));
  }

  UniqueHandle handle_;
  ReportLayout layout_;
  bool strip_report_id_;
  UniqueHandle read_event_;
  UniqueHandle write_event_;
  OVERLAPPED read_overlapped_{};
  bool read_pending_ = false;
  std::vector<uint8_t> read_buffer_;
  std::vector<uint8_t> write_buffer_;
  std::string error_;
};

class Win32HidBackend final : public HidBackend {
 public:
  std::vector<HidInterfaceRecord> enumerate() override {
    std::vector<HidInterfaceRecord> records;
    GUID hid_class{};
    const DevInfoSet set = hid_interface_set(&hid_class);
    if (!set) return records;
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof(data);
    for (DWORD i = 0; SetupDiEnumDeviceInterfaces(set.get(), nullptr, &hid_class, i, &data); ++i) {
      const std::optional<InterfaceDetail> detail = interface_detail(set.get(), &data);
      HidInterfaceRecord record;
      if (detail && describe(detail->path, &record)) records.push_back(std::move(record));
    }
    return records;
  }

  std::unique_ptr<HidBackendDevice> open_path(const std::string& path, std::string* error) override {
    const std::wstring wide = Utf8ToWide(path);
    UniqueHandle h(CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
    if (h.get() == INVALID_HANDLE_VALUE) {
      // A refusal here (another program holds the device, or the system
      // owns it, as keyboards and mice) is not the missing access right the
      // front ends advise on for Linux, so the system's own text stands
      // without the permission marker.
      fail(error, "cannot open " + path + ": " + win32_error_text(GetLastError()));
      return nullptr;
    }
    const std::optional<CollectionLayout> layout = collection_layout(h.get());
    if (!layout) {
      fail(error, path + ": the device states no report capabilities: " + win32_error_text(GetLastError()));
      return nullptr;
    }
    HidD_SetNumInputBuffers(h.get(), kInputBuffers);
    auto device = std::make_unique<Win32HidDevice>(std::move(h), *layout);
    if (!device->ready()) {
      fail(error, "cannot open " + path + ": " + win32_error_text(GetLastError()));
      return nullptr;
    }
    return device;
  }

  // The USB device above the collection, named as Linux names it ("1-1.2")
  // from its location path. A device without a USB location (another bus,
  // a virtual device) is named by the instance ID of the collection's
  // parent node, or of the collection itself where the system tells no
  // parent (Wine).
  std::string port_path(const std::string& path) override {
    GUID hid_class{};
    const DevInfoSet set = hid_interface_set(&hid_class);
    if (!set) return {};
    const std::optional<DEVINST> node = interface_node(set.get(), &hid_class, Utf8ToWide(path));
    if (!node) return {};
    std::optional<std::vector<std::string>> root_hubs;
    DEVINST at = *node;
    for (int depth = 0; depth < kMaxAncestors; ++depth) {
      for (const std::wstring& location : node_location_paths(at)) {
        if (!root_hubs) root_hubs = usb_location_paths();
        const std::string name = usb_port_name_from_location(WideToUtf8(location), *root_hubs);
        if (!name.empty()) return name;
      }
      DEVINST parent = 0;
      if (CM_Get_Parent(&parent, at, 0) != CR_SUCCESS) break;
      at = parent;
    }
    DEVINST parent = 0;
    if (CM_Get_Parent(&parent, *node, 0) == CR_SUCCESS) {
      std::string id = node_instance_id(parent);
      if (!id.empty()) return id;
    }
    return node_instance_id(*node);
  }
};

}  // namespace

namespace platform {

std::shared_ptr<HidBackend> MakeSystemHidBackend() { return std::make_shared<Win32HidBackend>(); }

}  // namespace platform

}  // namespace torvane
