// Windows: no HID backend is built in yet. The library comes up and lists
// no interface, and opening one says why, so the simulated bus (--simulate)
// is the only way to a device in this build.
#include "platform/system_hid_backend.h"

namespace torvane::platform {

namespace {

class NoHidBackend final : public HidBackend {
 public:
  std::vector<HidInterfaceRecord> enumerate() override { return {}; }
  std::unique_ptr<HidBackendDevice> open_path(const std::string& path, std::string* error) override {
    if (error != nullptr) *error = path + ": no HID backend in this build";
    return nullptr;
  }
};

}  // namespace

std::shared_ptr<HidBackend> MakeSystemHidBackend() { return std::make_shared<NoHidBackend>(); }

}  // namespace torvane::platform
