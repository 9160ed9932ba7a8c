// The HID interfaces attached now, each with the kind the settings' identities
// make of it, its serial number and the port it is plugged into: what `list`
// shows, what device selection matches and what the station watches.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "monitor/device_state.h"
#include "settings/settings_model.h"

namespace torvane {

struct HidDevice;

struct AttachedInterface {
  std::string path;
  std::string port;     // empty when the platform cannot tell
  std::string serial;   // UTF-8; empty when the device has none
  std::string product;  // UTF-8
  uint16_t vendor_id = 0;
  uint16_t product_id = 0;
  uint16_t usage_page = 0;
  uint16_t usage = 0;
  int32_t interface_number = -1;
  DeviceState kind = DS_NONE;  // DS_NONE: not one of the three identities
};

// The kind detection takes an identity for, in detection's probe order (old
// bootloader, bootloader, application); an ID of 0 in the settings matches
// any value, as detection's lookup does.
DeviceState KindOfIdentity(const Settings& settings, uint16_t vendor_id, uint16_t product_id);

// "application", "bootloader", "old bootloader", or "-".
const char* KindName(DeviceState kind);

inline bool IsBootloaderKind(DeviceState kind) { return kind == DS_BOOT || kind == DS_OLDBOOT; }

// True when the entry is one of the three identities and its collection has
// the usage page and usage that identity asks for (0xFFFF: any), as
// detection's open requires.
bool HasIdentityUsage(const Settings& settings, const AttachedInterface& entry);

// Opens the entry's interface the way detection opens its identity: on the
// collection with the identity's usage, so a composite device is reached on
// its own collection rather than the first one listed. Null with
// hid_link_last_open_error set when it cannot.
HidDevice* OpenAttachedInterface(const Settings& settings, const AttachedInterface& entry);

// Every interface in the HID layer's cached list (refreshed first when
// `refresh`), in enumeration order, with its port looked up.
std::vector<AttachedInterface> ListAttachedInterfaces(const Settings& settings, bool refresh);

// As ListAttachedInterfaces(refresh), but the ports are known to belong to
// the interfaces listed: a port is looked up after the listing, and an
// interface that left meanwhile may have handed its path to another device,
// whose port would then be taken for its own. So the bus is listed again
// after the lookups until two listings agree; false when they did not
// within a few tries (the bus is busy changing: look again later).
bool ListAttachedInterfacesSettled(const Settings& settings, std::vector<AttachedInterface>* out);

// The JSON object of one interface (the `list --json` element).
std::string AttachedInterfaceJson(const AttachedInterface& entry);

}  // namespace torvane
