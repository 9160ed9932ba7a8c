#include "station/attached_interfaces.h"

#include <tuple>
#include <utility>

#include "device/hid_error_text.h"
#include "device/hid_link.h"
#include "station/json_text.h"
#include "text/hex_text.h"

namespace torvane {

namespace {
std::string Narrow(const std::optional<std::wstring>& text) {
  return text ? hid_wide_to_utf8(text->c_str()) : std::string();
}
}  // namespace

DeviceState KindOfIdentity(const Settings& s, uint16_t vid, uint16_t pid) {
  auto matches = [&](uint16_t want_vid, uint16_t want_pid) {
    return IdentityCanMatch(want_vid, want_pid) && (want_vid == 0 || want_vid == vid) &&
           (want_pid == 0 || want_pid == pid);
  };
  if (matches(s.old_boot_vid, s.old_boot_pid)) return DS_OLDBOOT;
  if (matches(s.boot_vid, s.boot_pid)) return DS_BOOT;
  if (matches(s.app_vid, s.app_pid)) return DS_APP;
  return DS_NONE;
}

const char* KindName(DeviceState kind) {
  switch (kind) {
    case DS_OLDBOOT: return "old bootloader";
    case DS_BOOT: return "bootloader";
    case DS_APP: return "application";
    default: return "-";
  }
}

namespace {
// The usage conditions of the entry's identity; 0xFFFF places none.
std::pair<uint16_t, uint16_t> IdentityUsage(const Settings& s, DeviceState kind) {
  if (IsBootloaderKind(kind)) return {s.boot_usage_page, s.boot_usage};
  return {s.app_usage_page, s.app_usage};
}
const uint16_t* Condition(const uint16_t& value) { return value == 0xFFFF ? nullptr : &value; }
}  // namespace

bool HasIdentityUsage(const Settings& settings, const AttachedInterface& e) {
  if (e.kind == DS_NONE) return false;
  const auto [page, usage] = IdentityUsage(settings, e.kind);
  return (page == 0xFFFF || page == e.usage_page) && (usage == 0xFFFF || usage == e.usage);
}

HidDevice* OpenAttachedInterface(const Settings& settings, const AttachedInterface& e) {
  const auto [page, usage] = IdentityUsage(settings, e.kind);
  return hid_link_open_path_usage(e.path, Condition(page), Condition(usage));
}

std::vector<AttachedInterface> ListAttachedInterfaces(const Settings& settings, bool refresh) {
  if (refresh) hid_link_refresh();
  HidDeviceInfoList list(hid_link_find(0, 0));
  std::vector<AttachedInterface> out;
  for (const HidDeviceInfo* d = list.get(); d != nullptr; d = d->next) {
    AttachedInterface entry;
    entry.path = d->path;
    entry.port = hid_link_port_path(d->path);
    entry.serial = Narrow(d->serial_number);
    entry.product = Narrow(d->product_string);
    entry.vendor_id = d->vendor_id;
    entry.product_id = d->product_id;
    entry.usage_page = d->usage_page;
    entry.usage = d->usage;
    entry.interface_number = d->interface_number;
    entry.kind = KindOfIdentity(settings, d->vendor_id, d->product_id);
    out.push_back(std::move(entry));
  }
  return out;
}

namespace {
// What tells one listed interface from another, the port aside.
using Identity = std::tuple<std::string, uint16_t, uint16_t, uint16_t, uint16_t, std::string>;
Identity IdentityOf(const AttachedInterface& e) {
  return {e.path, e.vendor_id, e.product_id, e.usage_page, e.usage, e.serial};
}
std::vector<Identity> ListIdentities() {
  hid_link_refresh();
  HidDeviceInfoList list(hid_link_find(0, 0));
  std::vector<Identity> out;
  for (const HidDeviceInfo* d = list.get(); d != nullptr; d = d->next) {
    out.emplace_back(d->path, d->vendor_id, d->product_id, d->usage_page, d->usage, Narrow(d->serial_number));
  }
  return out;
}
}  // namespace

bool ListAttachedInterfacesSettled(const Settings& settings, std::vector<AttachedInterface>* out) {
  constexpr int kTries = 5;
  for (int attempt = 0; attempt < kTries; ++attempt) {
    std::vector<AttachedInterface> listed = ListAttachedInterfaces(settings, true);
    const std::vector<Identity> again = ListIdentities();
    std::vector<Identity> first;
    for (const AttachedInterface& e : listed) first.push_back(IdentityOf(e));
    if (first == again) {
      *out = std::move(listed);
      return true;
    }
  }
  return false;
}

std::string AttachedInterfaceJson(const AttachedInterface& e) {
  JsonObject o;
  o.Add("path", e.path)
      .Add("port", e.port)
      .Add("serial", e.serial)
      .Add("vid_pid", HexDigits(e.vendor_id, 4) + ":" + HexDigits(e.product_id, 4))
      .Add("usage_page", HexDigits(e.usage_page, 4))
      .Add("usage", HexDigits(e.usage, 4))
      .Add("interface", static_cast<int64_t>(e.interface_number))
      .Add("kind", KindName(e.kind))
      .Add("product", e.product);
  return o.Text();
}

}  // namespace torvane
