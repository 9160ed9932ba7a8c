// Linux: hot-plug events of hidraw nodes from a libudev monitor, watched
// on a thread of the source's own together with an eventfd that stops it.
#include <libudev.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <thread>

#include "monitor/debug_trace.h"
#include "monitor/device_state.h"
#include "platform/system_hotplug.h"

namespace torvane {

namespace {

// udevd's control socket: present while the daemon runs.
bool udevd_running() { return access("/run/udev/control", F_OK) == 0; }

class UdevHotplugSource final : public HotplugSource {
 public:
  ~UdevHotplugSource() override { Stop(); }

  bool Start(std::function<void(unsigned)> on_change) override {
    if (thread_.joinable()) return true;
    udev_ = udev_new();
    if (udev_ == nullptr) return false;
    const char* source = "udev";
    if (!udevd_running()) {
      source = "kernel";
      static std::once_flag said;
      std::call_once(said, [] {
        DebugTrace("no udev daemon found; watching kernel hot-plug events instead\n");
      });
    }
    monitor_ = udev_monitor_new_from_netlink(udev_, source);
    if (monitor_ == nullptr || udev_monitor_filter_add_match_subsystem_devtype(monitor_, "hidraw", nullptr) < 0 ||
        udev_monitor_enable_receiving(monitor_) < 0) {
      release();
      return false;
    }
    stop_fd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (stop_fd_ < 0) {
      release();
      return false;
    }
    on_change_ = std::move(on_change);
    try {
      thread_ = std::thread([this] { run(); });
    } catch (const std::system_error&) {
      release();
      return false;
    }
    return true;
  }

  void Stop() override {
    if (thread_.joinable()) {
      const uint64_t one = 1;
      if (write(stop_fd_, &one, sizeof(one)) < 0) {
        // The eventfd cannot be full after one write; nothing else to do.
      }
      thread_.join();
    }
    release();
  }

 private:
  void run() {
    const int monitor_fd = udev_monitor_get_fd(monitor_);
    for (;;) {
      pollfd fds[2] = {{monitor_fd, POLLIN, 0}, {stop_fd_, POLLIN, 0}};
      const int n = poll(fds, 2, -1);
      if (n < 0) {
        if (errno == EINTR) continue;
        return;
      }
      if (fds[1].revents != 0) return;
      if ((fds[0].revents & POLLIN) == 0) continue;
      udev_device* device = udev_monitor_receive_device(monitor_);
      if (device == nullptr) continue;
      const char* action = udev_device_get_action(device);
      if (action != nullptr) {
        if (std::strcmp(action, "add") == 0) {
          on_change_(DBT_DEVICEARRIVAL);
        } else if (std::strcmp(action, "remove") == 0) {
          on_change_(DBT_DEVICEREMOVECOMPLETE);
        }
      }
      udev_device_unref(device);
    }
  }

  void release() {
    if (monitor_ != nullptr) udev_monitor_unref(monitor_);
    if (udev_ != nullptr) udev_unref(udev_);
    if (stop_fd_ >= 0) close(stop_fd_);
    monitor_ = nullptr;
    udev_ = nullptr;
    stop_fd_ = -1;
  }

  udev* udev_ = nullptr;
  udev_monitor* monitor_ = nullptr;
  int stop_fd_ = -1;
  std::function<void(unsigned)> on_change_;
  std::thread thread_;
};

}  // namespace

namespace platform {

std::unique_ptr<HotplugSource> MakeSystemHotplugSource() { return std::make_unique<UdevHotplugSource>(); }

}  // namespace platform

}  // namespace torvane
