// configfs gadget building and /dev/hidgN I/O for the virtual device.
#include "virtual/gadget_link.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <thread>

#include "text/hex_text.h"

namespace torvane::virt {

namespace {

// A gadget keeps this many input reports for a host that does not take
// them, as a device's small buffer would; later ones are lost.
constexpr size_t kMaxPendingInput = 64;

// How long a leaving device waits for the host to take its last input reports.
constexpr std::chrono::milliseconds kLeaveDrainLimit{1000};
// How long it then stays for the host to hand the last report on.
constexpr std::chrono::milliseconds kLeaveSettle{100};

std::string errno_text(const std::string& what, int err) { return what + ": " + std::strerror(err); }

// Writes one configfs attribute in a single write(), as configfs wants.
bool write_attr(const std::string& file, const void* data, size_t length, std::string* error) {
  const int fd = ::open(file.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) {
    *error = errno_text("cannot open " + file, errno);
    return false;
  }
  ssize_t n;
  do {
    n = ::write(fd, data, length);
  } while (n < 0 && errno == EINTR);
  const int err = errno;
  ::close(fd);
  if (n != static_cast<ssize_t>(length)) {
    *error = n < 0 ? errno_text("cannot write " + file, err) : "short write to " + file;
    if (n < 0) errno = err;
    return false;
  }
  return true;
}

bool write_text(const std::string& file, const std::string& text, std::string* error) {
  return write_attr(file, text.data(), text.size(), error);
}

// configfs strings are single-byte; the identities are ASCII. An empty
// string is written as a bare newline, which configfs stores as "".
std::string ascii(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) out += (c > 0x1F && c < 0x7F) ? static_cast<char>(c) : '?';
  return out.empty() ? std::string("\n") : out;
}

bool make_dir(const std::string& dir, std::string* error) {
  if (::mkdir(dir.c_str(), 0755) == 0 || errno == EEXIST) return true;
  *error = errno_text("cannot create " + dir, errno);
  return false;
}

std::string read_first_line(const std::string& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  return line;
}

std::vector<std::string> controllers(const std::string& udc_class) {
  std::vector<std::string> names;
  if (DIR* d = ::opendir(udc_class.c_str())) {
    while (const dirent* e = ::readdir(d)) {
      if (e->d_name[0] != '.') names.emplace_back(e->d_name);
    }
    ::closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace

uint32_t gadget_report_length(const sim::SimIdentity& id) {
  // Without report IDs the ID byte never travels on the wire.
  const uint32_t own = id.report_id != 0 ? id.report_length : id.report_length - 1;
  return std::max(own, id.composite_report_length);
}

std::string check_gadget_limits(const sim::SimKnobs& knobs) {
  if (knobs.port) {
    return "port= cannot be set on a USB gadget: its port is where its controller sits "
           "(dummy_udc.N shows as port N+1-1); choose it with --gadget=UDC";
  }
  if (knobs.interface_number > 0) {
    return "interface=" + std::to_string(knobs.interface_number) +
           " cannot be set on a USB gadget: its HID function is interface 0";
  }
  for (sim::SimDeviceKind kind : {sim::SimDeviceKind::kApp, sim::SimDeviceKind::kBoot, sim::SimDeviceKind::kOldBoot}) {
    const uint32_t length = gadget_report_length(sim::sim_identity_for(knobs, kind));
    if (length > kGadgetMaxReport) {
      return "a report of " + std::to_string(length) + " bytes on the wire is beyond what a USB gadget's interrupt "
             "transfer carries (at most " + std::to_string(kGadgetMaxReport) + ")";
    }
  }
  return {};
}

GadgetLink::GadgetLink(std::string udc, std::string name, GadgetPlaces places)
    : places_(std::move(places)), wanted_udc_(std::move(udc)), dir_(places_.configfs + "/" + name) {}

GadgetLink::~GadgetLink() {
  std::string ignored;
  leave(&ignored);
  remove_tree();
}

std::string GadgetLink::where() const {
  return "USB gadget on " + (udc_.empty() ? (wanted_udc_.empty() ? std::string("a free controller") : wanted_udc_) : udc_);
}

bool GadgetLink::create_tree(std::string* error) {
  struct stat st {};
  if (::stat(places_.configfs.c_str(), &st) != 0) {
    *error = places_.configfs + " is missing: mount configfs on /sys/kernel/config and load libcomposite";
    return false;
  }
  // A folder of this name left by a device that was killed is taken down
  // first, so the gadget starts from a known state.
  remove_tree();
  created_ = true;
  return make_dir(dir_, error) && make_dir(path("strings/0x409"), error) && make_dir(path("configs/c.1"), error) &&
         make_dir(path("configs/c.1/strings/0x409"), error) && make_dir(path("functions/hid.usb0"), error) &&
         write_text(path("configs/c.1/strings/0x409/configuration"), "Torvane virtual device", error) &&
         write_text(path("configs/c.1/MaxPower"), "100", error) && write_text(path("bcdUSB"), "0x0200", error);
}

bool GadgetLink::set_function(const sim::SimIdentity& identity, const std::vector<uint8_t>& descriptor,
                              std::string* error) {
  const uint32_t length = gadget_report_length(identity);
  if (linked_ && descriptor == descriptor_ && length == report_length_) return true;
  // The function's attributes are locked while it is in a configuration.
  if (linked_ && ::unlink(path("configs/c.1/hid.usb0").c_str()) != 0) {
    *error = errno_text("cannot take the HID function out of the configuration", errno);
    return false;
  }
  linked_ = false;
  if (!write_text(path("functions/hid.usb0/protocol"), "0", error) ||
      !write_text(path("functions/hid.usb0/subclass"), "0", error) ||
      !write_text(path("functions/hid.usb0/report_length"), std::to_string(length), error) ||
      !write_attr(path("functions/hid.usb0/report_desc"), descriptor.data(), descriptor.size(), error)) {
    return false;
  }
  if (::symlink(path("functions/hid.usb0").c_str(), path("configs/c.1/hid.usb0").c_str()) != 0) {
    *error = errno_text("cannot put the HID function into the configuration", errno);
    return false;
  }
  linked_ = true;
  descriptor_ = descriptor;
  report_length_ = length;
  return true;
}

bool GadgetLink::set_device(const sim::SimIdentity& id, std::string* error) {
  return write_text(path("idVendor"), HexText(id.vendor_id, 4), error) &&
         write_text(path("idProduct"), HexText(id.product_id, 4), error) &&
         write_text(path("bcdDevice"), HexText(id.release_number, 4), error) &&
         write_text(path("strings/0x409/manufacturer"), ascii(id.manufacturer), error) &&
         write_text(path("strings/0x409/product"), ascii(id.product), error) &&
         write_text(path("strings/0x409/serialnumber"), ascii(id.serial_number), error);
}

bool GadgetLink::bind(std::string* error) {
  // A controller that serves another gadget refuses with EBUSY: the next
  // one is tried, so devices started together each find their own.
  std::vector<std::string> candidates;
  if (!udc_.empty()) {
    candidates = {udc_};
  } else if (!wanted_udc_.empty()) {
    candidates = {wanted_udc_};
  } else {
    candidates = controllers(places_.udc_class);
  }
  if (candidates.empty()) {
    *error = "no USB device controller in " + places_.udc_class + " (load dummy_hcd)";
    return false;
  }
  std::string last;
  for (const std::string& udc : candidates) {
    if (write_text(path("UDC"), udc, &last)) {
      udc_ = udc;
      bound_ = true;
      return true;
    }
    if (errno != EBUSY) break;
  }
  *error = candidates.size() > 1 && errno == EBUSY ? "every USB device controller is in use" : last;
  return false;
}

bool GadgetLink::open_node(std::string* error) {
  // dev reads "MAJOR:MINOR"; the node is /dev/hidg<MINOR>.
  const std::string dev = read_first_line(path("functions/hid.usb0/dev"));
  const size_t colon = dev.find(':');
  if (colon == std::string::npos) {
    *error = "the HID function has no device number";
    return false;
  }
  const std::string node = places_.dev + "/hidg" + dev.substr(colon + 1);
  // The node appears with the bind; a moment is allowed for devtmpfs.
  for (int attempt = 0;; ++attempt) {
    fd_ = ::open(node.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd_ >= 0) return true;
    if (errno != ENOENT || attempt >= 100) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  *error = errno_text("cannot open " + node, errno);
  return false;
}

void GadgetLink::close_node() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  pending_.clear();
  had_input_ = false;
}

bool GadgetLink::arrive(const sim::SimIdentity& identity, const std::vector<uint8_t>& descriptor,
                        std::string* error) {
  if (!created_ && !create_tree(error)) return false;
  if (!set_function(identity, descriptor, error) || !set_device(identity, error) || !bind(error)) return false;
  reading_ = true;
  return open_node(error);
}

bool GadgetLink::leave(std::string* error) {
  // Firmware that resets after its last reply has seen that reply go out;
  // over USB it goes out when the host polls the IN endpoint, which a busy
  // host may do only milliseconds later. Unbinding before that would lose
  // it, so the device waits (bounded) until the host has taken every input
  // report it was given.
  const auto start = std::chrono::steady_clock::now();
  const auto deadline = start + kLeaveDrainLimit;
  bool taken = fd_ < 0;
  while (fd_ >= 0) {
    std::string ignored;
    flush_pending(&ignored);
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    pollfd p{fd_, POLLOUT, 0};
    if (left <= 0 || ::poll(&p, 1, static_cast<int>(left)) <= 0 || (p.revents & POLLOUT) == 0) break;
    if (pending_.empty()) {
      taken = true;
      break;
    }
  }
  // The controller completes the device's side of a transfer first; the
  // host's side (usbhid handing the report to hidraw) follows from a
  // deferred handler, which a loaded emulated machine may run tens of
  // milliseconds later. A disconnect before that drops the report on the
  // host, so a device that saw its last report taken stays a little longer.
  if (taken && had_input_) std::this_thread::sleep_for(kLeaveSettle);
  const auto waited = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start);
  if (!taken) note("leaving with input reports the host has not taken");
  detail("gadget: leaving after " + std::to_string(waited.count()) + " us for the host to take the last input report");
  close_node();
  if (!bound_) return true;
  bound_ = false;
  return write_text(path("UDC"), "\n", error);
}

void GadgetLink::remove_tree() {
  struct stat st {};
  if (::stat(dir_.c_str(), &st) != 0) return;
  std::string ignored;
  write_text(path("UDC"), "\n", &ignored);
  ::unlink(path("configs/c.1/hid.usb0").c_str());
  for (const char* sub : {"configs/c.1/strings/0x409", "configs/c.1", "functions/hid.usb0", "strings/0x409"}) {
    ::rmdir(path(sub).c_str());
  }
  ::rmdir(dir_.c_str());
  linked_ = false;
  bound_ = false;
}

bool GadgetLink::flush_pending(std::string* error) {
  (void)error;
  while (!pending_.empty() && fd_ >= 0) {
    const std::vector<uint8_t>& report = pending_.front();
    const ssize_t n = ::write(fd_, report.data(), report.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) return true;  // the previous report is still on its way
    // A report the function refuses (the host has not configured the
    // device, say) is lost, as on a real bus.
    if (n < 0) note(errno_text("input report lost", errno));
    pending_.pop_front();
  }
  return true;
}

bool GadgetLink::send_input(const std::vector<uint8_t>& report, std::string* error) {
  if (fd_ < 0) return true;
  if (pending_.size() >= kMaxPendingInput) {
    note("input report lost: the host takes none");
    return true;
  }
  pending_.push_back(report);
  had_input_ = true;
  return flush_pending(error);
}

pollfd GadgetLink::wait_for() const {
  pollfd p{fd_, 0, 0};
  if (reading_) p.events |= POLLIN;
  if (!pending_.empty()) p.events |= POLLOUT;
  if (p.events == 0) p.fd = -1;
  return p;
}

bool GadgetLink::service(short revents, const OutputSink& output, std::string* error) {
  if (fd_ < 0) return true;
  if (revents & POLLOUT) flush_pending(error);
  if (!(revents & POLLIN) || !reading_) {
    if (revents & (POLLERR | POLLHUP | POLLNVAL)) {
      note("the gadget's node failed; it is closed until the device comes back");
      close_node();
    }
    return true;
  }
  std::vector<uint8_t> report(std::max<uint32_t>(report_length_, 64));
  ssize_t n;
  do {
    n = ::read(fd_, report.data(), report.size());
  } while (n < 0 && errno == EINTR);
  if (n < 0 && errno == EAGAIN) return true;
  if (n <= 0) {
    // Unbound from outside (a test pulling the plug): nothing more comes
    // through this node.
    note(n < 0 ? errno_text("the gadget's node failed", errno) : std::string("the gadget's node closed"));
    close_node();
    return true;
  }
  report.resize(static_cast<size_t>(n));
  detail("gadget: output report of " + std::to_string(n) + " bytes");
  output(report);
  return true;
}

}  // namespace torvane::virt
