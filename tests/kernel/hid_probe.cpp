// torvane-hid-probe: a small guest-side check of the device layer against
// the real kernel, independent of the command-line tool. It lists the HID
// interfaces as hid_link sees them, and opens one by identity to show the
// report lengths and IDs taken from the report descriptor and the device's
// answer to the info query.
//
//   torvane-hid-probe list
//   torvane-hid-probe info VID PID        (hex)
//   torvane-hid-probe enter-boot VID PID
//
// Exit status: 0 done, 1 not found or no valid reply, 2 bad arguments.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "device/boot_protocol.h"
#include "device/hid_link.h"

using namespace torvane;

namespace {

std::string narrow(const std::optional<std::wstring>& text) {
  if (!text) return "(null)";
  std::string out;
  for (wchar_t c : *text) out += (c > 0 && c < 0x80) ? static_cast<char>(c) : '?';
  return "\"" + out + "\"";
}

bool parse_hex16(const char* text, uint16_t* value) {
  char* end = nullptr;
  const unsigned long v = std::strtoul(text, &end, 16);
  if (!end || *end || end == text || v > 0xFFFF) return false;
  *value = static_cast<uint16_t>(v);
  return true;
}

int list() {
  HidDeviceInfoList devices(hid_link_enumerate());
  for (const HidDeviceInfo* d = devices.get(); d; d = d->next) {
    std::printf("%04X:%04X usage %04X:%04X interface %d release %04X manufacturer %s product %s serial %s path %s\n",
                d->vendor_id, d->product_id, d->usage_page, d->usage, d->interface_number,
                d->release_number, narrow(d->manufacturer_string).c_str(),
                narrow(d->product_string).c_str(), narrow(d->serial_number).c_str(), d->path.c_str());
  }
  return 0;
}

int exchange(uint16_t vid, uint16_t pid, bool enter_boot) {
  HidDevice* device = hid_link_open(vid, pid, nullptr, nullptr);
  if (!device) {
    std::printf("cannot open %04X:%04X: %s\n", vid, pid, hid_link_last_open_error().c_str());
    return 1;
  }
  std::printf("opened %s: output %u bytes ID %u, input %u bytes ID %u\n", device->path.c_str(),
              device->output_report_length, device->output_report_id, device->input_report_length,
              device->input_report_id);
  int status = BOOT_STATUS_NONE;
  if (enter_boot) {
    boot_send_command(device, BOOT_CMD_ENTER_BOOT, nullptr, 0, &status);
    std::printf("enter-boot status %d\n", status);
  } else {
    BootInfo info;
    boot_query_info(device, &status, &info);
    std::printf("info status %d text \"%s\"\n", status, boot_info_text(info).c_str());
  }
  if (status == BOOT_STATUS_NONE && device->last_error_text) {
    std::printf("error: %s\n", device->last_error_text->c_str());
  }
  hid_link_close(device);
  return status == BOOT_STATUS_NONE ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  uint16_t vid = 0, pid = 0;
  const bool needs_ids = command == "info" || command == "enter-boot";
  if (!(command == "list" && argc == 2) &&
      !(needs_ids && argc == 4 && parse_hex16(argv[2], &vid) && parse_hex16(argv[3], &pid))) {
    std::fprintf(stderr, "usage: torvane-hid-probe list | info VID PID | enter-boot VID PID\n");
    return 2;
  }
  hid_link_init();
  const int rc = command == "list" ? list() : exchange(vid, pid, command == "enter-boot");
  hid_link_exit();
  return rc;
}
