// The process-wide HID context: backend selection, start-up and shut-down,
// the cached interface list with its re-entrant lock, filtered copies of it
// and opening an interface by identity.
#include "device/hid_link.h"

#include <limits>
#include <utility>

#include "device/hid_link_state.h"
#include "platform/system_hid_backend.h"

namespace torvane {

namespace {

// The backend the next init will use (null: the system's) and the one in use.
std::mutex g_backend_mutex;
std::shared_ptr<HidBackend> g_selected_backend;
std::shared_ptr<HidBackend> g_active_backend;

HidDeviceInfo* copy_record(const HidDeviceInfo& source) {
  auto* copy = new HidDeviceInfo(source);
  copy->next = nullptr;
  return copy;
}

HidDeviceInfo* record_from_backend(const HidInterfaceRecord& record) {
  auto* info = new HidDeviceInfo;
  info->path = record.path;
  info->vendor_id = record.vendor_id;
  info->product_id = record.product_id;
  info->serial_number = record.serial_number;
  info->release_number = record.release_number;
  info->manufacturer_string = record.manufacturer_string;
  info->product_string = record.product_string;
  info->usage_page = record.usage_page;
  info->usage = record.usage;
  info->interface_number = record.interface_number;
  return info;
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

HidLink& hid_link_context() {
  // Never destroyed: a worker abandoned at shut-down may still reach it.
  static HidLink* link = new HidLink;
  return *link;
}

std::shared_ptr<HidBackend> hid_link_backend() {
  std::lock_guard<std::mutex> guard(g_backend_mutex);
  return g_active_backend;
}

void hid_link_set_backend(std::shared_ptr<HidBackend> backend) {
  std::lock_guard<std::mutex> guard(g_backend_mutex);
  g_selected_backend = std::move(backend);
}

void hid_link_init() {
  HidLink& link = hid_link_context();
  if (!link.entry_points_loaded) {
    std::shared_ptr<HidBackend> backend;
    {
      std::lock_guard<std::mutex> guard(g_backend_mutex);
      backend = g_selected_backend;
    }
    if (!backend) backend = platform::MakeSystemHidBackend();
    std::string error;
    if (!backend->initialise(&error)) {
      // Library unusable: no lock, so no list or open operation ever finds a
      // device.
      hid_link_exit();
      link.init_error = error.empty() ? "HID library could not be initialised" : error;
      return;
    }
    {
      std::lock_guard<std::mutex> guard(g_backend_mutex);
      g_active_backend = std::move(backend);
    }
    link.init_error.clear();
    link.entry_points_loaded = true;
  }
  if (!link.lock_initialised) {
    link.list_lock = std::make_unique<std::recursive_mutex>();
    link.lock_initialised = true;
  }
}

int hid_link_exit() {
  HidLink& link = hid_link_context();
  std::shared_ptr<HidBackend> backend;
  {
    std::lock_guard<std::mutex> guard(g_backend_mutex);
    backend.swap(g_active_backend);
  }
  if (link.entry_points_loaded && backend) backend->shutdown();
  link.entry_points_loaded = false;
  if (link.lock_initialised) {
    {
      std::lock_guard<std::recursive_mutex> guard(*link.list_lock);
      hid_link_free_list(link.device_list);
      link.device_list = nullptr;
    }
    link.lock_initialised = false;
    link.list_lock.reset();
  }
  return 0;
}

HidDeviceInfo* hid_link_enumerate() {
  std::shared_ptr<HidBackend> backend = hid_link_backend();
  if (!backend) return nullptr;
  HidDeviceInfo* head = nullptr;
  HidDeviceInfo** tail = &head;
  for (const HidInterfaceRecord& record : backend->enumerate()) {
    *tail = record_from_backend(record);
    tail = &(*tail)->next;
  }
  return head;
}

void hid_link_refresh() {
  HidLink& link = hid_link_context();
  if (!link.lock_initialised) return;
  std::lock_guard<std::recursive_mutex> guard(*link.list_lock);
  hid_link_free_list(link.device_list);
  link.device_list = nullptr;
  link.device_list = hid_link_enumerate();
}

HidDeviceInfo* hid_link_find(uint16_t vendor_id, uint16_t product_id) {
  HidLink& link = hid_link_context();
  if (!link.lock_initialised) return nullptr;
  std::lock_guard<std::recursive_mutex> guard(*link.list_lock);
  if (link.device_list == nullptr) link.device_list = hid_link_enumerate();
  HidDeviceInfo* head = nullptr;
  HidDeviceInfo** tail = &head;
  for (const HidDeviceInfo* p = link.device_list; p != nullptr; p = p->next) {
    if ((vendor_id == 0 || vendor_id == p->vendor_id) && (product_id == 0 || product_id == p->product_id)) {
      *tail = copy_record(*p);
      tail = &(*tail)->next;
    }
  }
  return head;
}

void hid_link_free_list(HidDeviceInfo* list) {
  while (list != nullptr) {
    HidDeviceInfo* next = list->next;
    delete list;
    list = next;
  }
}

namespace {

// Opens the first cached record `wanted` accepts that also meets the usage
// conditions (null: none), with the reports of the collection it was listed
// for.
template <typename Wanted>
HidDevice* open_first_listed(const Wanted& wanted, const uint16_t* usage_page, const uint16_t* usage) {
  hid_link_set_last_open_error({});
  HidLink& link = hid_link_context();
  if (!link.lock_initialised) return nullptr;
  // The open itself happens under the lock, so a refresh cannot replace the
  // list between the lookup and the open.
  std::lock_guard<std::recursive_mutex> guard(*link.list_lock);
  HidDeviceInfoList candidates(hid_link_find(0, 0));
  for (const HidDeviceInfo* p = candidates.get(); p != nullptr; p = p->next) {
    if (!wanted(*p)) continue;
    if (usage_page != nullptr && p->usage_page != *usage_page) continue;
    if (usage != nullptr && p->usage != *usage) continue;
    if (p->path.empty()) return nullptr;
    return hid_link_open_collection(p->path, HidUsagePair{p->usage_page, p->usage});
  }
  return nullptr;
}

}  // namespace

HidDevice* hid_link_open(uint16_t vendor_id, uint16_t product_id, const uint16_t* usage_page,
                         const uint16_t* usage) {
  return open_first_listed(
      [&](const HidDeviceInfo& p) { return p.vendor_id == vendor_id && p.product_id == product_id; }, usage_page,
      usage);
}

HidDevice* hid_link_open_path_usage(const std::string& path, const uint16_t* usage_page, const uint16_t* usage) {
  HidDevice* device = open_first_listed([&](const HidDeviceInfo& p) { return p.path == path; }, usage_page, usage);
  if (device == nullptr && hid_link_last_open_error().empty()) {
    hid_link_set_last_open_error("no such device: " + path);
  }
  return device;
}

int32_t hid_interface_number_from_path(const std::string& path) {
  const size_t at = path.find("&mi_");
  if (at == std::string::npos) return -1;
  int64_t value = 0;
  size_t pos = at + 4;
  if (pos >= path.size() || hex_digit(path[pos]) < 0) return -1;
  for (; pos < path.size() && hex_digit(path[pos]) >= 0; ++pos) {
    value = value * 16 + hex_digit(path[pos]);
    if (value > std::numeric_limits<int32_t>::max()) return -1;
  }
  return static_cast<int32_t>(value);
}

}  // namespace torvane
