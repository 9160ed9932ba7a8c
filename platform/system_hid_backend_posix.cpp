// Linux: hidapi lists the interfaces, each is opened as its hidraw node.
#include "platform/system_hid_backend.h"

#include "device/hidapi_backend.h"

namespace torvane::platform {

std::shared_ptr<HidBackend> MakeSystemHidBackend() { return make_hidapi_backend(); }

}  // namespace torvane::platform
