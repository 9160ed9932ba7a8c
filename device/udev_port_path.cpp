#include "device/udev_port_path.h"

#include <libudev.h>
#include <sys/stat.h>

#include <memory>

namespace torvane {

namespace {
struct UdevDeleter {
  void operator()(udev* u) const { udev_unref(u); }
  void operator()(udev_device* d) const { udev_device_unref(d); }
};
}  // namespace

std::string udev_port_path_of_hidraw(const std::string& devnode) {
  struct stat st {};
  if (stat(devnode.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) return {};
  std::unique_ptr<udev, UdevDeleter> context(udev_new());
  if (!context) return {};
  std::unique_ptr<udev_device, UdevDeleter> node(udev_device_new_from_devnum(context.get(), 'c', st.st_rdev));
  if (!node) return {};
  // Parents found this way belong to the child; they are not unreferenced.
  if (udev_device* usb = udev_device_get_parent_with_subsystem_devtype(node.get(), "usb", "usb_device")) {
    const char* name = udev_device_get_sysname(usb);
    if (name != nullptr) return name;
  }
  if (udev_device* hid = udev_device_get_parent_with_subsystem_devtype(node.get(), "hid", nullptr)) {
    const char* phys = udev_device_get_property_value(hid, "HID_PHYS");
    if (phys != nullptr) return phys;
  }
  return {};
}

}  // namespace torvane
