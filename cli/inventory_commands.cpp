#include "cli/inventory_commands.h"

#include <cstdio>

#include "cli/device_selection.h"
#include "cli/exit_codes.h"
#include "device/hid_link.h"
#include "monitor/info_text.h"
#include "monitor/printable_text.h"
#include "monitor/status_report.h"
#include "station/json_text.h"

namespace torvane::cli {

int RunList(CliSession& session, bool json) {
  const std::vector<AttachedInterface> attached = ListAttachedInterfaces(session.settings(), false);
  if (json) {
    std::string out = "[";
    for (const AttachedInterface& e : attached) {
      if (out.size() > 1) out += ',';
      out += AttachedInterfaceJson(e);
    }
    std::printf("%s]\n", out.c_str());
    return kExitOk;
  }
  std::printf("%-9s  %-9s  %-4s  %-16s  %-16s  %-12s  %-24s  %s\n", "VID:PID", "page:use", "if", "kind", "serial",
              "port", "product", "path");
  for (const AttachedInterface& e : attached) {
    std::printf("%04X:%04X  %04X:%04X  %-4d  %-16s  %-16s  %-12s  %-24s  %s\n", e.vendor_id, e.product_id,
                e.usage_page, e.usage, e.interface_number, KindName(e.kind), e.serial.empty() ? "-" : e.serial.c_str(),
                e.port.empty() ? "-" : e.port.c_str(), EscapeControlCharacters(e.product).c_str(), e.path.c_str());
  }
  if (attached.empty()) std::printf("no HID interfaces found\n");
  return kExitOk;
}

int RunInfoJson(CliSession& session) {
  const Settings& s = session.settings();
  const std::vector<AttachedInterface> candidates =
      SelectionCandidates(ListAttachedInterfaces(s, false), SelectionPurpose::kInfo);
  if (RefuseAmbiguous(candidates, "info")) return kExitUsage;
  if (candidates.empty()) {
    std::printf("%s\n", JsonObject().Add("found", false).Text().c_str());
    return kExitNoDevice;
  }
  const AttachedInterface& device = candidates.front();
  HidDevice* handle = OpenAttachedInterface(s, device);
  if (handle == nullptr) {
    std::fprintf(stderr, "cannot open %s: %s\n", device.path.c_str(), hid_link_last_open_error().c_str());
    return kExitDeviceError;
  }
  int status = BOOT_STATUS_NONE;
  BootInfo info;
  boot_query_info(handle, &status, &info);
  hid_link_close(handle);
  int advised = 0;
  const FoundReport report = BuildFoundReport(device.kind, status, info, s.boot_bin_info, s.boot_update_check, &advised);
  JsonObject o;
  o.Add("found", true).AddRaw("device", AttachedInterfaceJson(device)).Add("info_status", status);
  if (status == 0) {
    o.Add("info", ConvertInfoText(info));
  } else {
    o.AddNull("info");
  }
  o.Add("boot_update_advised", advised != 0).Add("report", report.message);
  std::printf("%s\n", o.Text().c_str());
  return status == 0 ? kExitOk : kExitProtocolError;
}

}  // namespace torvane::cli
