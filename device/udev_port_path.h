// The port a hidraw node's device is plugged into, as udev knows it.
#pragma once

#include <string>

namespace torvane {

// For "/dev/hidrawN": the sysfs name of the USB device above the node
// ("1-1.2": bus, then the port chain), which stays the same for a port across
// re-plugs; for a HID device without a USB parent (uhid, Bluetooth) its
// HID_PHYS string. Empty when the node is unknown or tells neither.
std::string udev_port_path_of_hidraw(const std::string& devnode);

}  // namespace torvane
