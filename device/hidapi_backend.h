// HidBackend on hidapi's hidraw implementation: real devices under
// /dev/hidrawN. hidapi 0.13 has no report descriptor call, so the descriptor
// comes from the HIDIOCGRDESC ioctl on the hidraw node.
#pragma once

#include <memory>

#include "device/hid_backend.h"

namespace torvane {

std::shared_ptr<HidBackend> make_hidapi_backend();

}  // namespace torvane
