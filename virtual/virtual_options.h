// Command line of torvane-virtual-device.
#pragma once

#include <string>
#include <vector>

#include "sim/sim_knobs.h"

namespace torvane::virt {

inline constexpr int kExitOk = 0;
inline constexpr int kExitUhid = 1;   // /dev/uhid or the gadget missing, not allowed, or failed
inline constexpr int kExitUsage = 2;  // bad arguments or knobs

struct VirtualOptions {
  sim::SimKnobs knobs;
  std::string knob_text = "boot";
  std::string uhid_path = "/dev/uhid";
  bool gadget = false;     // a USB HID gadget through configfs instead of uhid
  std::string udc;         // the gadget's controller; empty: the first free one
  std::string image_path;  // where confirmed images go; empty: nowhere
  bool verbose = false;
  bool help = false;
  bool version = false;
};

// Parses the arguments after the program name. On failure returns false
// with a one-line reason in *error.
bool parse_virtual_options(const std::vector<std::string>& args, VirtualOptions* options,
                           std::string* error);

std::string virtual_usage_text();

}  // namespace torvane::virt
