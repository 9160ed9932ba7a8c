// torvane-virtual-device: the simulator's device model as a real kernel HID
// device, for trying the tool without hardware and for the kernel tests.
#include <fcntl.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "torvane_version.h"
#include "virtual/gadget_link.h"
#include "virtual/virtual_device.h"
#include "virtual/virtual_options.h"

using namespace torvane::virt;

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  VirtualOptions options;
  std::string error;
  if (!parse_virtual_options(args, &options, &error)) {
    std::fprintf(stderr, "torvane-virtual-device: %s\n\n%s", error.c_str(), virtual_usage_text().c_str());
    return kExitUsage;
  }
  if (options.help || options.version) {
    const std::string text =
        options.help ? virtual_usage_text() : std::string("torvane-virtual-device ") + TORVANE_VERSION + "\n";
    // A full disk or a closed stream is a failure, not a quiet success.
    const bool written = std::fputs(text.c_str(), stdout) >= 0 && std::fflush(stdout) == 0;
    if (!written) std::fprintf(stderr, "torvane-virtual-device: cannot write standard output: %s\n", std::strerror(errno));
    return written ? kExitOk : kExitUhid;
  }

  // SIGINT and SIGTERM arrive through a descriptor the loop waits on, so
  // the device is always destroyed on the way out.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  sigaddset(&stop_signals, SIGHUP);
  if (sigprocmask(SIG_BLOCK, &stop_signals, nullptr) != 0) {
    std::perror("torvane-virtual-device: sigprocmask");
    return kExitUhid;
  }
  const int stop_fd = signalfd(-1, &stop_signals, SFD_CLOEXEC);
  if (stop_fd < 0) {
    std::perror("torvane-virtual-device: signalfd");
    return kExitUhid;
  }

  // SIGUSR1 re-plugs the device.
  sigset_t replug_signals;
  sigemptyset(&replug_signals);
  sigaddset(&replug_signals, SIGUSR1);
  const int replug_fd = sigprocmask(SIG_BLOCK, &replug_signals, nullptr) == 0
                            ? signalfd(-1, &replug_signals, SFD_CLOEXEC)
                            : -1;
  const LineSink log = [](const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
  };

  // Serves the device until it is stopped, pulled out for good or its link
  // fails, then tells the model's verdict.
  const auto serve = [&](VirtualDevice& device) {
    device.set_image_path(options.image_path);
    device.set_verbose(options.verbose);
    const RunEnd end = device.run(stop_fd, replug_fd);
    std::printf("verdict: %s\n", device.verdict().summary().c_str());
    std::fflush(stdout);
    return end == RunEnd::kUhidError ? kExitUhid : kExitOk;
  };

  if (options.gadget) {
    VirtualDevice device(options.knobs,
                         std::make_unique<GadgetLink>(options.udc, "torvane-" + std::to_string(::getpid())), log);
    return serve(device);
  }

  const int uhid_fd = ::open(options.uhid_path.c_str(), O_RDWR | O_CLOEXEC);
  if (uhid_fd < 0) {
    const int err = errno;
    std::fprintf(stderr, "torvane-virtual-device: cannot open %s: %s\n", options.uhid_path.c_str(),
                 std::strerror(err));
    if (err == ENOENT) std::fputs("  load the uhid module first: sudo modprobe uhid\n", stderr);
    if (err == EACCES || err == EPERM) {
      std::fputs("  /dev/uhid needs root (or a udev rule granting access to it)\n", stderr);
    }
    ::close(stop_fd);
    return kExitUhid;
  }

  int status;
  {
    VirtualDevice device(options.knobs, uhid_fd, log);
    status = serve(device);
  }
  ::close(uhid_fd);
  ::close(stop_fd);
  return status;
}
