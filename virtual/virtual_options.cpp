// Argument parsing of torvane-virtual-device.
#include "virtual/virtual_options.h"

#include "virtual/gadget_link.h"
#include "virtual/virtual_device.h"

namespace torvane::virt {

bool parse_virtual_options(const std::vector<std::string>& args, VirtualOptions* options,
                           std::string* error) {
  VirtualOptions parsed;
  bool have_knobs = false;
  bool have_uhid = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](std::string* out) {
      if (i + 1 >= args.size() || args[i + 1].empty()) {
        *error = a + " needs a value";
        return false;
      }
      *out = args[++i];
      return true;
    };
    if (a == "-h" || a == "--help") {
      parsed.help = true;
    } else if (a == "--version") {
      parsed.version = true;
    } else if (a == "-v" || a == "--verbose") {
      parsed.verbose = true;
    } else if (a == "--save-image") {
      if (!value(&parsed.image_path)) return false;
    } else if (a == "--uhid") {
      if (!value(&parsed.uhid_path)) return false;
      have_uhid = true;
    } else if (a == "--gadget" || a.rfind("--gadget=", 0) == 0) {
      parsed.gadget = true;
      parsed.udc = a.size() > 9 ? a.substr(9) : "";
      if (a.size() == 9) {
        *error = "--gadget= needs a controller name (or none: --gadget)";
        return false;
      }
    } else if (a.size() > 1 && a[0] == '-') {
      *error = "unknown option " + a;
      return false;
    } else if (have_knobs) {
      *error = "one knob text only (join knobs with commas): " + a;
      return false;
    } else {
      parsed.knob_text = a;
      have_knobs = true;
    }
  }
  std::string reason;
  if (!sim::parse_sim_knobs(parsed.knob_text, &parsed.knobs, &reason)) {
    *error = "knobs \"" + parsed.knob_text + "\": " + reason;
    return false;
  }
  if (parsed.gadget && have_uhid) {
    *error = "--uhid and --gadget exclude each other";
    return false;
  }
  const std::string limit = parsed.gadget ? check_gadget_limits(parsed.knobs) : check_uhid_limits(parsed.knobs);
  if (!limit.empty()) {
    *error = "knobs \"" + parsed.knob_text + "\": " + limit;
    return false;
  }
  *options = std::move(parsed);
  return true;
}

std::string virtual_usage_text() {
  return "Usage: torvane-virtual-device [options] [KNOBS]\n"
         "\n"
         "Plays a USB HID device of the Torvane family on this machine through /dev/uhid,\n"
         "or as a real USB device through a configfs HID gadget (--gadget): the kernel\n"
         "lists it like hardware, and the device answers the boot protocol as its\n"
         "firmware would. Stop it with Ctrl-C; the device then leaves. SIGUSR1 pulls it\n"
         "out and plugs it in again restart-ms later.\n"
         "\n"
         "KNOBS is the simulator's knob text (default \"boot\"): the kind first (app,\n"
         "boot or oldboot), then comma-separated settings and faults, e.g.\n"
         "  app                         application firmware; ENTER_BOOT restarts it\n"
         "                              as the bootloader\n"
         "  boot,report-id=5            bootloader using report ID 5\n"
         "  oldboot                     old bootloader (XOR checksums)\n"
         "  boot,unplug-block=5         pulled out when block 5 arrives\n"
         "\n"
         "Options:\n"
         "  --save-image FILE  write every image the device confirms to FILE\n"
         "  --uhid PATH        the uhid node (default /dev/uhid)\n"
         "  --gadget[=UDC]     a USB HID gadget bound to the device controller UDC (default:\n"
         "                     the first free one; dummy_udc.N shows as port N+1-1) instead\n"
         "                     of uhid. Needs configfs mounted and libcomposite, usb_f_hid\n"
         "                     loaded; port= and interface= other than 0 are refused, as\n"
         "                     are reports longer than 1024 bytes on the wire\n"
         "  -v, --verbose      log every uhid event, each frame's command, and when the\n"
         "                     device was created and each frame came (CLOCK_MONOTONIC)\n"
         "  -h, --help         this text\n"
         "  --version          the version\n"
         "\n"
         "Exit status: 0 stopped or pulled out, 1 /dev/uhid or the gadget failed,\n"
         "2 bad arguments.\n";
}

}  // namespace torvane::virt
