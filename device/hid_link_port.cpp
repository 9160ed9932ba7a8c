#include "device/hid_link.h"
#include "device/hid_link_state.h"

namespace torvane {

std::string hid_link_port_path(const std::string& path) {
  const std::shared_ptr<HidBackend> backend = hid_link_backend();
  return backend ? backend->port_path(path) : std::string();
}

}  // namespace torvane
