// Factory identities of the simulated device kinds.
#include "sim/sim_identity.h"

namespace torvane::sim {

const char* sim_kind_name(SimDeviceKind kind) {
  switch (kind) {
    case SimDeviceKind::kApp:
      return "app";
    case SimDeviceKind::kBoot:
      return "boot";
    case SimDeviceKind::kOldBoot:
      return "oldboot";
  }
  return "?";
}

std::optional<SimDeviceKind> sim_kind_from_name(std::string_view name) {
  if (name == "app") return SimDeviceKind::kApp;
  if (name == "boot") return SimDeviceKind::kBoot;
  if (name == "oldboot") return SimDeviceKind::kOldBoot;
  return std::nullopt;
}

SimIdentity sim_default_identity(SimDeviceKind kind) {
  SimIdentity id;
  id.kind = kind;
  switch (kind) {
    case SimDeviceKind::kApp:
      id.vendor_id = 0x0534;
      id.product_id = 0x0002;
      id.usage_page = 0x0001;
      id.usage = 0x0000;
      id.product = L"Simulated Application";
      id.serial_number = L"SIM-APP-0001";
      break;
    case SimDeviceKind::kBoot:
      id.vendor_id = 0x484F;
      id.product_id = 0x5048;
      id.usage_page = 0xFF00;
      id.usage = 0x0001;
      id.product = L"Simulated Bootloader";
      id.serial_number = L"SIM-BOOT-0001";
      break;
    case SimDeviceKind::kOldBoot:
      id.vendor_id = 0x484F;
      id.product_id = 0x5045;
      id.usage_page = 0xFF00;
      id.usage = 0x0001;
      id.product = L"Simulated Old Bootloader";
      id.serial_number = L"SIM-OLDBOOT-0001";
      break;
  }
  return id;
}

std::string sim_default_info_text(SimDeviceKind kind) {
  switch (kind) {
    case SimDeviceKind::kApp:
      return "TORVANE-SIM-APP 2.1.0 08:15:00 Jan 10 2017";
    case SimDeviceKind::kBoot:
      return "ZAVRO:0.3.0.0 12:33:39 Sep 13 2016";
    case SimDeviceKind::kOldBoot:
      return "ZAVRO:0.2.0.0 09:12:05 Mar 02 2015";
  }
  return {};
}

}  // namespace torvane::sim
