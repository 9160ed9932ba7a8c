// HidBackend for real devices under /dev/hidrawN. hidapi (its hidraw
// implementation) lists the interfaces; an interface is opened as its hidraw
// node, whose file descriptor carries the reports and answers the
// HIDIOCGRDESC ioctl for the report descriptor (hidapi 0.13 has no call for
// it). Reads deliver reports still queued in the node after the device has
// gone, which hidapi 0.13's hid_read_timeout drops.
#pragma once

#include <memory>

#include "device/hid_backend.h"

namespace torvane {

std::shared_ptr<HidBackend> make_hidapi_backend();

}  // namespace torvane
