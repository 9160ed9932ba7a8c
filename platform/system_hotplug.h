// The hot-plug source of the system the program runs on: a libudev monitor
// of hidraw nodes on Linux, device-interface notifications of the HID class
// on Windows. The simulated bus has a source of its own (monitor/).
#pragma once

#include <memory>

#include "monitor/hotplug_source.h"

namespace torvane::platform {

// On Linux the monitor listens on the "udev" source (events after udev
// applied its rules), or on the "kernel" source when no udevd runs.
std::unique_ptr<HotplugSource> MakeSystemHotplugSource();

}  // namespace torvane::platform
