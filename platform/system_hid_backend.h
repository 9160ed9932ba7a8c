// The HID backend of the system the program runs on: hidapi over hidraw
// nodes on Linux, hid.dll with SetupAPI on Windows. hid_link uses it unless
// another backend (the simulated bus) was selected.
#pragma once

#include <memory>

#include "device/hid_backend.h"

namespace torvane::platform {

std::shared_ptr<HidBackend> MakeSystemHidBackend();

}  // namespace torvane::platform
