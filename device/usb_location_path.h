// The port name of a USB device from its location path, the form Windows
// states a device's place in the bus topology in
// ("PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(1)#USB(2)"). The name is shaped as
// Linux names USB devices ("1-1.2": bus, then the port chain), so the same
// --port values and station port names serve on both systems.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace torvane {

// The name of the USB device at `location`: the bus is the 1-based rank of
// its root hub ("...#USBROOT(n)") among the distinct root hubs named in
// `root_hub_locations` (in text order, so it stays the same while the set of
// host controllers does), then the decimal port numbers of the "USB(n)"
// segments after it, joined by '.'; segments after the last port (an
// interface's "USBMI(n)") are ignored. Empty when `location` names no root
// hub, no port after it, a malformed port, or a root hub not in the list.
std::string usb_port_name_from_location(std::string_view location,
                                        const std::vector<std::string>& root_hub_locations);

}  // namespace torvane
