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

namespace {

std::string JsonArray(const std::vector<AttachedInterface>& entries) {
  std::string out = "[";
  for (const AttachedInterface& e : entries) {
    if (out.size() > 1) out += ',';
    out += AttachedInterfaceJson(e);
  }
  return out + "]";
}

// Every outcome of `info --json` is one object: found or not, and an error
// field whenever the status is not 0.
int PrintInfoJson(const JsonObject& object, int status) {
  std::printf("%s\n", object.Text().c_str());
  return status;
}

}  // namespace

int RunList(CliSession& session, bool json) {
  const std::vector<AttachedInterface> attached = ListAttachedInterfaces(session.settings(), false);
  if (json) {
    std::printf("%s\n", JsonArray(attached).c_str());
    return kExitOk;
  }
  std::printf("%-9s  %-9s  %-4s  %-16s  %-16s  %-12s  %-24s  %s\n", "VID:PID", "page:use", "if", "kind", "serial",
              "port", "product", "path");
  for (const AttachedInterface& e : attached) {
    std::printf("%04X:%04X  %04X:%04X  %-4d  %-16s  %-16s  %-12s  %-24s  %s\n", e.vendor_id, e.product_id,
                e.usage_page, e.usage, e.interface_number, KindName(e.kind),
                e.serial.empty() ? "-" : EscapeControlCharacters(e.serial).c_str(),
                e.port.empty() ? "-" : e.port.c_str(), EscapeControlCharacters(e.product).c_str(), e.path.c_str());
  }
  if (attached.empty()) std::printf("no HID interfaces found\n");
  return kExitOk;
}

int PrintInfoJsonError(int status, const std::string& error) {
  return PrintInfoJson(JsonObject().Add("found", false).Add("error", error), status);
}

int RunInfoJson(CliSession& session) {
  const Settings& s = session.settings();
  const std::vector<AttachedInterface> candidates =
      SelectionCandidates(ListAttachedInterfaces(s, false), SelectionPurpose::kInfo);
  if (RefuseAmbiguous(candidates, "info")) {
    return PrintInfoJson(JsonObject()
                             .Add("found", false)
                             .Add("error", std::to_string(candidates.size()) +
                                               " devices match; pick one with --path, --serial or --port")
                             .AddRaw("candidates", JsonArray(candidates)),
                         kExitUsage);
  }
  if (candidates.empty()) return PrintInfoJsonError(kExitNoDevice, "no device of a known kind is attached");
  const AttachedInterface& device = candidates.front();
  JsonObject o;
  o.Add("found", true).AddRaw("device", AttachedInterfaceJson(device));
  HidDevice* handle = OpenAttachedInterface(s, device);
  if (handle == nullptr) {
    const std::string reason = "cannot open " + device.path + ": " + hid_link_last_open_error();
    std::fprintf(stderr, "%s\n", reason.c_str());
    return PrintInfoJson(o.Add("error", reason), kExitDeviceError);
  }
  int status = BOOT_STATUS_NONE;
  BootInfo info;
  boot_query_info(handle, &status, &info);
  hid_link_close(handle);
  int advised = 0;
  const FoundReport report = BuildFoundReport(device.kind, status, info, s.boot_bin_info, s.boot_update_check, &advised);
  o.Add("info_status", status);
  if (status == 0) {
    o.Add("info", ConvertInfoText(info));
  } else {
    o.AddNull("info");
  }
  o.Add("boot_update_advised", advised != 0).Add("report", report.message);
  if (status != 0) o.Add("error", "the device did not answer the info request (status " + std::to_string(status) + ")");
  return PrintInfoJson(o, status == 0 ? kExitOk : kExitProtocolError);
}

}  // namespace torvane::cli
